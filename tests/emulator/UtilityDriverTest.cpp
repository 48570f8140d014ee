// The utility driver's six commands: call forms and sizes, refusals, counts, and where flash
// chunks land.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "card/CommandCodes.h"
#include "emulator/UtilityDriver.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

using emu::CallForm;
using emu::CallUtilityDriver;
using emu::UserClientCall;
using testing::HasSubstr;

namespace {

constexpr CallForm kIn = CallForm::structureInput;
constexpr CallForm kOut = CallForm::structureOutput;

class UtilityDriverTest : public testing::Test {
protected:
    void SetUp() override {
        testhost::SwapInUtilityDriver(host, scratch.path());
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }

    emu::KernReturn call(CallForm form, int selector, uint8_t* structure, uint32_t size,
                         uint32_t scalars = 0) {
        UserClientCall c;
        c.form = form;
        c.selector = selector;
        c.scalarCount = scalars;
        c.structure = structure;
        c.size = size;
        return CallUtilityDriver(host.root(), service, c);
    }

    // One chunk command; the chunk buffer is at least 4000 bytes.
    void chunk(int selector, uint8_t* bytes) {
        ASSERT_EQ(call(selector == kReadFlash ? kOut : kIn, selector, bytes, kFlashChunkSize),
                  emu::kKernSuccess);
    }
    void sweep(int selector, std::vector<uint8_t>& buffer) {
        for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
            chunk(selector, buffer.data() + k * kFlashChunkSize);
    }
    std::string file(const char* name) {
        return ReadFileBytes(host.root() + "/var/db/sc820/" + name);
    }

    TempHost host;
    TempDir scratch;
    uint32_t service = 0;
};

// A write buffer whose every 4000-byte chunk is recognisable.
std::vector<uint8_t> SweepPattern(int seed) {
    std::vector<uint8_t> bytes(kFlashSweepSize);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>((i / kFlashChunkSize) * 16 + i * 3 + seed);
    return bytes;
}

// What a read sweep returns after a write sweep of `written`: the flash holds the first 64 KiB,
// and the rest of the last chunk reads erased.
std::vector<uint8_t> AsFlashHoldsIt(std::vector<uint8_t> written) {
    for (size_t i = kFlashSize; i < written.size(); ++i) written[i] = 0xFF;
    return written;
}

struct FormCase {
    CallForm form;
    int selector;
    uint32_t size;
    uint32_t scalars;
    emu::KernReturn expected;
};

TEST_F(UtilityDriverTest, EachCommandTakesOneFormAndSizeAndCountsEveryCall) {
    const std::vector<FormCase> cases = {
        {kOut, kGetEEPConfig, 308, 0, emu::kKernSuccess},
        {kOut, kGetEEPConfig, 307, 0, emu::kKernBadArgument},
        {kIn, kGetEEPConfig, 308, 0, emu::kKernBadArgument},
        {kOut, kGetEEPConfig, 308, 1, emu::kKernBadArgument},
        {kOut, kSetEEPConfig, 308, 0, emu::kKernBadArgument},
        {kIn, kSetEEPConfig, 309, 0, emu::kKernBadArgument},
        {kOut, kGetEEPDefault, 4000, 0, emu::kKernBadArgument},
        {kOut, kGetEEPDefault, 308, 0, emu::kKernSuccess},
        {kIn, kEraseFlash, 308, 0, emu::kKernBadArgument},
        {kOut, kEraseFlash, 2, 0, emu::kKernBadArgument},
        {kIn, kEraseFlash, 2, 2, emu::kKernBadArgument},
        {kOut, kReadFlash, 3999, 0, emu::kKernBadArgument},
        {kIn, kReadFlash, 4000, 0, emu::kKernBadArgument},
        {kIn, kWriteFlash, 4001, 0, emu::kKernBadArgument},
        {kOut, kWriteFlash, 4000, 0, emu::kKernBadArgument},
        {kOut, 6, 308, 0, emu::kKernBadArgument},
        {kIn, -1, 2, 0, emu::kKernBadArgument},
    };
    std::vector<int> counts(6, 0);
    const std::string eeprom = file("eeprom.bin");
    const std::string flash = file("flash.bin");
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(5000, 0xEE);
        EXPECT_EQ(call(c.form, c.selector, buffer.data(), c.size, c.scalars), c.expected)
            << "command " << c.selector << " size " << c.size;
        if (c.expected != emu::kKernSuccess) {
            EXPECT_EQ(buffer, std::vector<uint8_t>(5000, 0xEE))
                << "command " << c.selector << " wrote output";
        }
        if (c.selector >= 0 && c.selector < 6) ++counts[static_cast<size_t>(c.selector)];
    }
    EXPECT_EQ(host.commandCounts(), counts);
    EXPECT_EQ(file("eeprom.bin"), eeprom);
    EXPECT_EQ(file("flash.bin"), flash);
}

TEST_F(UtilityDriverTest, ANullStructureIsABadArgument) {
    EXPECT_EQ(call(kIn, kSetEEPConfig, nullptr, 308), emu::kKernBadArgument);
    EXPECT_EQ(call(kOut, kReadFlash, nullptr, 4000), emu::kKernBadArgument);
}

TEST_F(UtilityDriverTest, RecordsTravelWholeInBothDirections) {
    std::string record = testhost::PatternRecord(5);
    std::vector<uint8_t> bytes(record.begin(), record.end());
    ASSERT_EQ(call(kIn, kSetEEPConfig, bytes.data(), 308), emu::kKernSuccess);
    EXPECT_EQ(file("eeprom.bin"), record);
    std::vector<uint8_t> back(308, 0);
    ASSERT_EQ(call(kOut, kGetEEPConfig, back.data(), 308), emu::kKernSuccess);
    EXPECT_EQ(back, bytes);
    ASSERT_EQ(call(kOut, kGetEEPDefault, back.data(), 308), emu::kKernSuccess);
    EXPECT_EQ(std::string(back.begin(), back.end()), file("factory.bin"));
}

TEST_F(UtilityDriverTest, ARefusedCommandChangesNothingAndLeavesTheOutputAlone) {
    std::vector<uint8_t> input(4000, 0x11);
    for (int selector = 0; selector < kDataAcquirerNumCommands; ++selector) {
        TempHost fresh;
        testhost::SwapInUtilityDriver(fresh, scratch.path());
        uint32_t id =
            static_cast<uint32_t>(std::stoul(testhost::StatusFact(fresh, "utility-service")));
        // Put the read cursor mid-sweep, to see that a refusal does not move it either.
        std::vector<uint8_t> chunkBuffer(4000);
        UserClientCall read{kOut, kReadFlash, 0, chunkBuffer.data(), 4000, 0};
        ASSERT_EQ(CallUtilityDriver(fresh.root(), id, read), emu::kKernSuccess);
        fresh.hostOk({"fault", "refuse-" + std::to_string(selector), "on"});
        std::string before = ReadFileBytes(fresh.root() + "/var/db/sc820/eeprom.bin") +
                             ReadFileBytes(fresh.root() + "/var/db/sc820/factory.bin") +
                             ReadFileBytes(fresh.root() + "/var/db/sc820/flash.bin");
        static const uint32_t sizes[] = {308, 308, 308, 2, 4000, 4000};
        bool output =
            selector == kGetEEPConfig || selector == kGetEEPDefault || selector == kReadFlash;
        std::vector<uint8_t> buffer = output ? std::vector<uint8_t>(4000, 0xEE) : input;
        UserClientCall c{output ? kOut : kIn, selector, 0, buffer.data(), sizes[selector], 0};
        EXPECT_EQ(CallUtilityDriver(fresh.root(), id, c), emu::kKernNotPermitted) << selector;
        if (output) {
            EXPECT_EQ(buffer, std::vector<uint8_t>(4000, 0xEE)) << selector;
        }
        EXPECT_EQ(ReadFileBytes(fresh.root() + "/var/db/sc820/eeprom.bin") +
                      ReadFileBytes(fresh.root() + "/var/db/sc820/factory.bin") +
                      ReadFileBytes(fresh.root() + "/var/db/sc820/flash.bin"),
                  before)
            << selector;
        EXPECT_EQ(testhost::StatusFact(fresh, "flash-cursors"), "read 1 write 0") << selector;
        std::vector<int> counts(6, 0);
        counts[kReadFlash] = 1;
        ++counts[static_cast<size_t>(selector)];
        EXPECT_EQ(fresh.commandCounts(), counts) << selector;
    }
}

TEST_F(UtilityDriverTest, AReadSweepAfterAWriteSweepReturnsWhatTheFlashHolds) {
    std::vector<uint8_t> written = SweepPattern(1);
    sweep(kWriteFlash, written);
    std::string flash = file("flash.bin");
    EXPECT_EQ(flash, std::string(written.begin(), written.begin() + kFlashSize));
    std::vector<uint8_t> read(kFlashSweepSize, 0);
    sweep(kReadFlash, read);
    EXPECT_TRUE(read == AsFlashHoldsIt(written));
    EXPECT_EQ(testhost::StatusFact(host, "flash-cursors"), "read 0 write 0");
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 17, 17}));
}

TEST_F(UtilityDriverTest, ChunksAreWrittenInPlaceWithoutErasing) {
    std::vector<uint8_t> first = SweepPattern(1);
    sweep(kWriteFlash, first);
    std::vector<uint8_t> chunk(4000, 0x00);
    this->chunk(kWriteFlash, chunk.data());  // chunk 0 only
    std::string flash = file("flash.bin");
    EXPECT_EQ(flash.substr(0, 4000), std::string(4000, '\0'));
    EXPECT_EQ(flash.substr(4000), std::string(first.begin() + 4000, first.begin() + kFlashSize));
}

// What runs before a full write sweep and a full read sweep: part of a sweep, ended by another
// command or by a chunk of the other direction.
struct Interruption {
    const char* name;
    std::vector<int> selectors;
};

TEST_F(UtilityDriverTest, AnInterruptedSweepDoesNotMisplaceTheNextFullSweep) {
    const std::vector<Interruption> cases = {
        {"5 reads", {4, 4, 4, 4, 4}},
        {"5 reads then a config read", {4, 4, 4, 4, 4, 0}},
        {"5 writes then a default read", {5, 5, 5, 5, 5, 2}},
        {"5 writes then 2 reads", {5, 5, 5, 5, 5, 4, 4}},
        {"5 reads then 3 writes then a config read", {4, 4, 4, 4, 4, 5, 5, 5, 0}},
        {"16 writes then a config read",
         [] {
             auto v = std::vector<int>(16, 5);
             v.push_back(0);
             return v;
         }()},
        {"16 reads then an erase",
         [] {
             auto v = std::vector<int>(16, 4);
             v.push_back(3);
             return v;
         }()},
    };
    int seed = 0;
    for (const auto& c : cases) {
        std::vector<uint8_t> scratchChunk(4000, 0x77);
        std::vector<uint8_t> record(308);
        for (int selector : c.selectors) {
            if (selector == kReadFlash || selector == kWriteFlash) {
                chunk(selector, scratchChunk.data());
            } else if (selector == kEraseFlash) {
                ASSERT_EQ(call(kIn, kEraseFlash, record.data(), 2), emu::kKernSuccess);
            } else {
                ASSERT_EQ(call(kOut, selector, record.data(), 308), emu::kKernSuccess);
            }
        }
        std::vector<uint8_t> written = SweepPattern(++seed);
        sweep(kWriteFlash, written);
        EXPECT_TRUE(file("flash.bin") == std::string(written.begin(), written.begin() + kFlashSize))
            << c.name;
        std::vector<uint8_t> read(kFlashSweepSize, 0);
        sweep(kReadFlash, read);
        EXPECT_TRUE(read == AsFlashHoldsIt(written)) << c.name;
    }
}

TEST_F(UtilityDriverTest, EraseLeavesEveryByteErased) {
    std::vector<uint8_t> placeholder(2, 0);
    ASSERT_EQ(call(kIn, kEraseFlash, placeholder.data(), 2), emu::kKernSuccess);
    EXPECT_EQ(file("flash.bin"), std::string(kFlashSize, '\xFF'));
}

TEST_F(UtilityDriverTest, OnlyARegisteredUtilityServiceTakesCommands) {
    std::vector<uint8_t> record(308);
    UserClientCall c{kOut, kGetEEPConfig, 0, record.data(), 308, 0};
    EXPECT_EQ(CallUtilityDriver(host.root(), 1, c), emu::kKernNotAttached);  // the registry root
    EXPECT_EQ(CallUtilityDriver(host.root(), 999, c), emu::kKernNotAttached);
    ASSERT_EQ(testhost::RunTool(host, "kextunload", {"-m", testhost::kUtilityKextID}), 0);
    EXPECT_EQ(CallUtilityDriver(host.root(), service, c), emu::kKernNotAttached);
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

TEST_F(UtilityDriverTest, AFlashOfTheWrongSizeFailsTheChunkAndStaysAsItIs) {
    std::string path = host.root() + "/var/db/sc820/flash.bin";
    WriteFileBytes(path, std::string(1000, '\x42'));
    std::vector<uint8_t> buffer(4000, 0xEE);
    UserClientCall c{kOut, kReadFlash, 0, buffer.data(), 4000, 0};
    std::string problem;
    EXPECT_EQ(CallUtilityDriver(host.root(), service, c, &problem), emu::kKernError);
    EXPECT_THAT(problem, HasSubstr(path + " is corrupt: 1000 bytes, expected 65536"));
    EXPECT_EQ(buffer, std::vector<uint8_t>(4000, 0xEE));
    UserClientCall w{kIn, kWriteFlash, 0, buffer.data(), 4000, 0};
    EXPECT_EQ(CallUtilityDriver(host.root(), service, w, &problem), emu::kKernError);
    EXPECT_EQ(ReadFileBytes(path), std::string(1000, '\x42'));
}

TEST_F(UtilityDriverTest, AMissingHostIsExplained) {
    std::vector<uint8_t> record(308);
    UserClientCall c{kOut, kGetEEPConfig, 0, record.data(), 308, 0};
    std::string problem;
    EXPECT_EQ(CallUtilityDriver(scratch.path() + "/none", service, c, &problem), emu::kKernError);
    EXPECT_EQ(problem, "no emulated host at " + scratch.path() + "/none: run sc820-host init");
}

}  // namespace
