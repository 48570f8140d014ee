// The utility driver's six commands: call forms and sizes, refusals, counts, where flash chunks
// land, and a store killed halfway.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driverif/CommandCodes.h"
#include "emulator/card/UtilityDriver.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/TempHost.h"

using emu::CallForm;
using emu::CallUtilityDriver;
using emu::UserClientCall;

namespace {

constexpr CallForm kIn = CallForm::structureInput;
constexpr CallForm kOut = CallForm::structureOutput;

class UtilityDriverTest : public testing::Test {
protected:
    void SetUp() override {
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }
    IOReturn call(CallForm form, int selector, uint8_t* structure, uint32_t size,
                  uint32_t scalars = 0) {
        UserClientCall c{form, selector, scalars, structure, size, 0};
        return CallUtilityDriver(host.root(), service, c);
    }
    void sweep(int selector, std::vector<uint8_t>& buffer) {
        for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
            ASSERT_EQ(call(selector == kReadFlash ? kOut : kIn, selector,
                           buffer.data() + k * kFlashChunkSize, kFlashChunkSize),
                      kIOReturnSuccess);
    }
    std::string file(const char* name) {
        return ReadFileBytes(host.root() + "/var/db/sc820/" + name);
    }
    TempHost host;
    uint32_t service = 0;
};

// A write buffer whose every 4000-byte chunk is recognisable.
std::vector<uint8_t> SweepPattern(int seed) {
    std::vector<uint8_t> bytes(kFlashSweepSize);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>((i / kFlashChunkSize) * 16 + i * 3 + seed);
    return bytes;
}

// What a read sweep returns after a write sweep: the flash's 64 KiB, then erased bytes.
std::vector<uint8_t> AsFlashHoldsIt(std::vector<uint8_t> written) {
    for (size_t i = kFlashSize; i < written.size(); ++i) written[i] = 0xFF;
    return written;
}

struct FormCase {
    CallForm form;
    int selector;
    uint32_t size;
    uint32_t scalars;
    IOReturn expected;
};

TEST_F(UtilityDriverTest, EachCommandTakesOneFormAndSizeAndCountsEveryCall) {
    const std::vector<FormCase> cases = {
        {kOut, kGetEEPConfig, 308, 0, kIOReturnSuccess},
        {kOut, kGetEEPConfig, 307, 0, kIOReturnBadArgument},
        {kIn, kGetEEPConfig, 308, 0, kIOReturnBadArgument},
        {kOut, kGetEEPConfig, 308, 1, kIOReturnBadArgument},
        {kOut, kSetEEPConfig, 308, 0, kIOReturnBadArgument},
        {kIn, kSetEEPConfig, 309, 0, kIOReturnBadArgument},
        {kOut, kGetEEPDefault, 4000, 0, kIOReturnBadArgument},
        {kOut, kGetEEPDefault, 308, 0, kIOReturnSuccess},
        {kIn, kEraseFlash, 308, 0, kIOReturnBadArgument},
        {kOut, kEraseFlash, 2, 0, kIOReturnBadArgument},
        {kIn, kEraseFlash, 2, 2, kIOReturnBadArgument},
        {kOut, kReadFlash, 3999, 0, kIOReturnBadArgument},
        {kIn, kReadFlash, 4000, 0, kIOReturnBadArgument},
        {kIn, kWriteFlash, 4001, 0, kIOReturnBadArgument},
        {kOut, kWriteFlash, 4000, 0, kIOReturnBadArgument},
        {kOut, 6, 308, 0, kIOReturnBadArgument},
        {kIn, -1, 2, 0, kIOReturnBadArgument},
    };
    std::vector<int> counts(6, 0);
    const std::string eeprom = file("eeprom.bin");
    const std::string flash = file("flash.bin");
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(5000, 0xEE);
        EXPECT_EQ(call(c.form, c.selector, buffer.data(), c.size, c.scalars), c.expected)
            << "command " << c.selector << " size " << c.size;
        if (c.expected != kIOReturnSuccess) {
            EXPECT_EQ(buffer, std::vector<uint8_t>(5000, 0xEE))
                << "command " << c.selector << " wrote output";
        }
        if (c.selector >= 0 && c.selector < 6) ++counts[static_cast<size_t>(c.selector)];
    }
    EXPECT_EQ(host.commandCounts(), counts);
    EXPECT_EQ(file("eeprom.bin"), eeprom);
    EXPECT_EQ(file("flash.bin"), flash);
    EXPECT_EQ(call(kIn, kSetEEPConfig, nullptr, 308), kIOReturnBadArgument);
    EXPECT_EQ(call(kOut, kReadFlash, nullptr, 4000), kIOReturnBadArgument);
}

TEST_F(UtilityDriverTest, RecordsTravelWholeInBothDirections) {
    std::string record = testhost::PatternRecord(5);
    std::vector<uint8_t> bytes(record.begin(), record.end());
    ASSERT_EQ(call(kIn, kSetEEPConfig, bytes.data(), 308), kIOReturnSuccess);
    EXPECT_EQ(file("eeprom.bin"), record);
    std::vector<uint8_t> back(308, 0);
    ASSERT_EQ(call(kOut, kGetEEPConfig, back.data(), 308), kIOReturnSuccess);
    EXPECT_EQ(back, bytes);
    ASSERT_EQ(call(kOut, kGetEEPDefault, back.data(), 308), kIOReturnSuccess);
    EXPECT_EQ(std::string(back.begin(), back.end()), file("factory.bin"));
}

TEST_F(UtilityDriverTest, AReadSweepAfterAWriteSweepReturnsWhatTheFlashHoldsAndEraseClearsIt) {
    std::vector<uint8_t> written = SweepPattern(1);
    sweep(kWriteFlash, written);
    EXPECT_EQ(file("flash.bin"), std::string(written.begin(), written.begin() + kFlashSize));
    std::vector<uint8_t> read(kFlashSweepSize, 0);
    sweep(kReadFlash, read);
    EXPECT_TRUE(read == AsFlashHoldsIt(written));
    EXPECT_EQ(testhost::StatusFact(host, "flash-cursors"), "read 0 write 0");
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 17, 17}));
    std::vector<uint8_t> placeholder(2, 0);
    ASSERT_EQ(call(kIn, kEraseFlash, placeholder.data(), 2), kIOReturnSuccess);
    EXPECT_EQ(file("flash.bin"), std::string(kFlashSize, '\xFF'));
}

// What runs before a full write sweep and a full read sweep, one command code a digit: part of
// a sweep, ended by another command or by a chunk of the other direction.
TEST_F(UtilityDriverTest, AnInterruptedSweepDoesNotMisplaceTheNextFullSweep) {
    const std::vector<std::string> cases = {"44444",
                                            "444440",
                                            "555552",
                                            "5555544",
                                            "444445550",
                                            std::string(16, '5') + "0",
                                            std::string(16, '4') + "3"};
    int seed = 0;
    for (const auto& c : cases) {
        std::vector<uint8_t> buffer(4000, 0x77);
        for (char digit : c) {
            int selector = digit - '0';
            uint32_t size = selector >= kReadFlash ? 4000 : selector == kEraseFlash ? 2 : 308;
            CallForm form = selector == kWriteFlash || selector == kEraseFlash ? kIn : kOut;
            ASSERT_EQ(call(form, selector, buffer.data(), size), kIOReturnSuccess) << c;
        }
        std::vector<uint8_t> written = SweepPattern(++seed);
        sweep(kWriteFlash, written);
        EXPECT_TRUE(file("flash.bin") == std::string(written.begin(), written.begin() + kFlashSize))
            << c;
        std::vector<uint8_t> read(kFlashSweepSize, 0);
        sweep(kReadFlash, read);
        EXPECT_TRUE(read == AsFlashHoldsIt(written)) << c;
    }
}

// A command the driver does not carry out still ends a sweep in progress: both cursors go
// back to the start, as after any other command.
TEST_F(UtilityDriverTest, ARefusedOrMalformedCommandPutsTheCursorsBack) {
    struct Case {
        const char* name;
        int chunkSelector;  // the part sweep before the command
        const char* fault;  // switched on for the command, or null
        CallForm form;
        int selector;
        uint32_t size;
    };
    const Case cases[] = {
        {"short read chunk", kReadFlash, nullptr, kOut, kReadFlash, 3999},
        {"write chunk as output", kWriteFlash, nullptr, kOut, kWriteFlash, 4000},
        {"unknown command", kReadFlash, nullptr, kOut, 6, 308},
        {"refused read chunk", kReadFlash, "refuse-4", kOut, kReadFlash, 4000},
        {"refused write chunk", kWriteFlash, "refuse-5", kIn, kWriteFlash, 4000},
        {"refused erase", kWriteFlash, "refuse-3", kIn, kEraseFlash, 2},
        {"refused record read", kReadFlash, "refuse-0", kOut, kGetEEPConfig, 308},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> buffer(4000, 0x5A);
        const CallForm chunkForm = c.chunkSelector == kReadFlash ? kOut : kIn;
        for (int k = 0; k < 5; ++k)
            ASSERT_EQ(call(chunkForm, c.chunkSelector, buffer.data(), 4000), kIOReturnSuccess);
        ASSERT_NE(testhost::StatusFact(host, "flash-cursors"), "read 0 write 0");
        if (c.fault != nullptr) host.hostOk({"fault", c.fault, "on"});
        EXPECT_NE(call(c.form, c.selector, buffer.data(), c.size), kIOReturnSuccess);
        EXPECT_EQ(testhost::StatusFact(host, "flash-cursors"), "read 0 write 0");
        if (c.fault != nullptr) host.hostOk({"fault", c.fault, "off"});
    }
}

TEST_F(UtilityDriverTest, OnlyARegisteredUtilityServiceTakesCommands) {
    std::vector<uint8_t> record(308);
    UserClientCall c{kOut, kGetEEPConfig, 0, record.data(), 308, 0};
    EXPECT_EQ(CallUtilityDriver(host.root(), 1, c), kIOReturnNotAttached);  // the registry root
    EXPECT_EQ(CallUtilityDriver(host.root(), 999, c), kIOReturnNotAttached);
    ASSERT_EQ(testhost::RunTool(host, "kextunload", {"-m", "com.tavik.iokit.sc820utl"}), 0);
    EXPECT_EQ(CallUtilityDriver(host.root(), service, c), kIOReturnNotAttached);
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

// The command reports what happened on the card: with a file operation failed under it, a
// success means the card holds the change and a failure that it holds what it held.
TEST_F(UtilityDriverTest, AFailedFileOperationNeverHidesAChangeMadeOrReportsOneNotMade) {
    using faults::Kind;
    struct Case {
        const char* name;
        int selector;
        const char* under;  // the failed call's path starts with var/db/sc820 and this
        Kind kind;
        unsigned nth;
        IOReturn expected;
    };
    const Case cases[] = {
        {"erase, state not saved", kEraseFlash, "/driver.bin", Kind::write, 1, kIOReturnError},
        {"chunk, state not saved", kWriteFlash, "/driver.bin", Kind::write, 1, kIOReturnError},
        {"record, state not saved", kSetEEPConfig, "/driver.bin", Kind::write, 1, kIOReturnError},
        {"erase failed", kEraseFlash, "/flash.bin", Kind::write, 1, kIOReturnError},
        {"record not renamed", kSetEEPConfig, "/eeprom.bin", Kind::rename, 1, kIOReturnError},
        {"record renamed, folder not flushed", kSetEEPConfig, "", Kind::sync, 2, kIOReturnSuccess},
    };
    const std::string db = host.root() + "/var/db/sc820";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const char* part = c.selector == kSetEEPConfig ? "eeprom.bin" : "flash.bin";
        const std::string before = file(part);
        std::vector<uint8_t> input(4000, 0x3C);
        faults::Arm(c.kind, c.nth, EIO, db + c.under);
        IOReturn status = call(kIn, c.selector, input.data(),
                               c.selector == kSetEEPConfig ? 308
                               : c.selector == kEraseFlash ? 2
                                                           : 4000);
        faults::Disarm();
        ASSERT_TRUE(faults::Failed());
        EXPECT_EQ(status, c.expected);
        EXPECT_EQ(file(part) == before, c.expected != kIOReturnSuccess);
        EXPECT_EQ(testhost::StatusFact(host, "flash-cursors"), "read 0 write 0");
    }
}

// Stores the two records in turn until killed.
[[noreturn]] void StoreForever(const std::string& root, uint32_t service, const std::string& a,
                               const std::string& b) {
    std::vector<uint8_t> records[2] = {{a.begin(), a.end()}, {b.begin(), b.end()}};
    for (unsigned n = 0;; ++n) {
        UserClientCall c{kIn, kSetEEPConfig, 0, records[n % 2].data(), 308, 0};
        CallUtilityDriver(root, service, c);
    }
}

// A process killed while it stores leaves the old record or the new one, never a mixture, and
// the host's state stays readable.
TEST_F(UtilityDriverTest, AKilledStoreNeverLeavesATornRecord) {
    const std::string original = file("eeprom.bin");
    const std::string a = testhost::PatternRecord(1);
    const std::string b = testhost::PatternRecord(2);
    std::mt19937 random(820);
    std::uniform_int_distribution<int> delay(0, 10000);
    for (int round = 0; round < 30; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) StoreForever(host.root(), service, a, b);
        // Let the first child finish a store, so that the rounds compare real replacements.
        for (int wait = 0; round == 0 && wait < 500 && host.commandCounts()[kSetEEPConfig] == 0;
             ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        std::string record = file("eeprom.bin");
        ASSERT_TRUE(record == a || record == b || record == original)
            << "torn record in round " << round;
        ASSERT_EQ(host.commandCounts().size(), 6u) << "state unreadable in round " << round;
    }
    std::string record = file("eeprom.bin");
    EXPECT_TRUE(record == a || record == b) << "no store completed: the test proved nothing";
}

}  // namespace
