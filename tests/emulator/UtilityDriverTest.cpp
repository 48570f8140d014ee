// The utility driver's six commands: call forms and sizes, refusals, counts, where flash chunks
// land, failed file operations and a store killed halfway.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "driverif/CommandCodes.h"
#include "emulator/card/UtilityDriver.h"
#include "tests/support/TempHost.h"

using emu::CallForm;
using emu::CallUtilityDriver;
using emu::UserClientCall;

namespace {

constexpr CallForm kIn = CallForm::structureInput;
constexpr CallForm kOut = CallForm::structureOutput;
constexpr IOReturn kBad = kIOReturnBadArgument;

class UtilityDriverTest : public testing::Test {
protected:
    void SetUp() override {
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }
    IOReturn call(CallForm form, int selector, uint8_t* structure, uint32_t size,
                  uint32_t scalars = 0, uint32_t to = 0) {
        UserClientCall c{form, selector, scalars, structure, size, 0};
        return CallUtilityDriver(host.root(), to ? to : service, c);
    }
    // Each command in its own form and size.
    IOReturn command(int selector, uint8_t* structure) {
        const bool in =
            selector == kWriteFlash || selector == kEraseFlash || selector == kSetEEPConfig;
        const uint32_t size = selector >= kReadFlash ? 4000 : selector == kEraseFlash ? 2 : 308;
        return call(in ? kIn : kOut, selector, structure, size);
    }
    // A full sweep of 17 chunks; a write sweep checks where it landed, a read sweep returns it.
    std::vector<uint8_t> sweep(int selector, int seed = 0) {
        std::vector<uint8_t> bytes(kFlashSweepSize);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>((i / kFlashChunkSize) * 16 + i * 3 + seed);
        for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
            EXPECT_EQ(command(selector, bytes.data() + k * kFlashChunkSize), kIOReturnSuccess);
        if (selector == kWriteFlash) {
            EXPECT_TRUE(file("flash.bin") ==
                        std::string(bytes.begin(), bytes.begin() + kFlashSize));
            std::fill(bytes.begin() + kFlashSize, bytes.end(), 0xFF);  // as a read sweep gives it
        }
        return bytes;
    }
    std::string file(const char* name) {
        return ReadFileBytes(host.root() + "/var/db/sc820/" + name);
    }
    std::string cursors() { return testhost::StatusFact(host, "flash-cursors"); }
    TempHost host;
    uint32_t service = 0;
};

// Only the one form and size is taken; a refused call writes no output and changes nothing,
// but counts. Only a registered utility service takes commands.
TEST_F(UtilityDriverTest, EachCommandTakesOneFormAndSizeAndCountsEveryCall) {
    const std::tuple<CallForm, int, uint32_t, uint32_t, IOReturn> cases[] = {
        {kOut, kGetEEPConfig, 308, 0, kIOReturnSuccess},
        {kOut, kGetEEPConfig, 307, 0, kBad},
        {kIn, kGetEEPConfig, 308, 0, kBad},
        {kOut, kGetEEPConfig, 308, 1, kBad},
        {kOut, kSetEEPConfig, 308, 0, kBad},
        {kIn, kSetEEPConfig, 309, 0, kBad},
        {kOut, kGetEEPDefault, 4000, 0, kBad},
        {kOut, kGetEEPDefault, 308, 0, kIOReturnSuccess},
        {kIn, kEraseFlash, 308, 0, kBad},
        {kOut, kEraseFlash, 2, 0, kBad},
        {kIn, kEraseFlash, 2, 2, kBad},
        {kOut, kReadFlash, 3999, 0, kBad},
        {kIn, kReadFlash, 4000, 0, kBad},
        {kIn, kWriteFlash, 4001, 0, kBad},
        {kOut, kWriteFlash, 4000, 0, kBad},
        {kOut, 6, 308, 0, kBad},
        {kIn, -1, 2, 0, kBad},
    };
    std::vector<int> counts = {0, 1, 0, 0, 1, 0};  // the calls without a structure below
    const std::string files = file("eeprom.bin") + file("flash.bin");
    for (const auto& [form, selector, size, scalars, expected] : cases) {
        std::vector<uint8_t> buffer(5000, 0xEE);
        EXPECT_EQ(call(form, selector, buffer.data(), size, scalars), expected)
            << selector << " " << size;
        EXPECT_TRUE(expected == kIOReturnSuccess || buffer == std::vector<uint8_t>(5000, 0xEE));
        if (selector >= 0 && selector < 6) ++counts[static_cast<size_t>(selector)];
    }
    EXPECT_EQ(call(kIn, kSetEEPConfig, nullptr, 308), kBad);
    EXPECT_EQ(call(kOut, kReadFlash, nullptr, 4000), kBad);
    EXPECT_EQ(host.commandCounts(), counts);
    EXPECT_EQ(file("eeprom.bin") + file("flash.bin"), files);
    std::vector<uint8_t> record(308);
    for (uint32_t other : {1u, 999u})  // the registry root and no entry
        EXPECT_EQ(call(kOut, kGetEEPConfig, record.data(), 308, 0, other), kIOReturnNotAttached);
    ASSERT_EQ(testhost::RunTool(host, "kextunload", {"-m", "com.tavik.iokit.sc820utl"}), 0);
    EXPECT_EQ(call(kOut, kGetEEPConfig, record.data(), 308), kIOReturnNotAttached);
    EXPECT_EQ(host.commandCounts(), counts);
}

// Records travel whole both ways; a read sweep after a write sweep returns what the flash holds
// and erased bytes after it; erase clears the flash.
TEST_F(UtilityDriverTest, RecordsAndSweepsTravelWholeAndEraseClearsTheFlash) {
    std::string record = testhost::PatternRecord(5), back(308, '\0');
    ASSERT_EQ(command(kSetEEPConfig, reinterpret_cast<uint8_t*>(record.data())), kIOReturnSuccess);
    EXPECT_EQ(file("eeprom.bin"), record);
    ASSERT_EQ(command(kGetEEPConfig, reinterpret_cast<uint8_t*>(back.data())), kIOReturnSuccess);
    EXPECT_EQ(back, record);
    ASSERT_EQ(command(kGetEEPDefault, reinterpret_cast<uint8_t*>(back.data())), kIOReturnSuccess);
    EXPECT_EQ(back, file("factory.bin"));
    // What runs before a full write sweep and a full read sweep, one command code a digit: part
    // of a sweep, ended by another command or by a chunk of the other direction.
    int seed = 0;
    for (std::string_view before : {"", "44444", "444440", "555552", "5555544", "444445550",
                                    "55555555555555550", "44444444444444443"}) {
        std::vector<uint8_t> buffer(4000, 0x77);
        for (char digit : before) ASSERT_EQ(command(digit - '0', buffer.data()), kIOReturnSuccess);
        const std::vector<uint8_t> written = sweep(kWriteFlash, ++seed);
        EXPECT_TRUE(sweep(kReadFlash) == written) << before;
        EXPECT_EQ(cursors(), "read 0 write 0");
    }
    std::vector<uint8_t> placeholder(2, 0);
    ASSERT_EQ(command(kEraseFlash, placeholder.data()), kIOReturnSuccess);
    EXPECT_EQ(file("flash.bin"), std::string(kFlashSize, '\xFF'));
}

// A command the driver does not carry out still ends a sweep in progress: both cursors go back.
// (What a command failed on the disk leaves, the fault sweep checks.)
TEST_F(UtilityDriverTest, ARefusedOrMalformedCommandPutsTheCursorsBack) {
    const std::tuple<int, const char*, CallForm, int, uint32_t> cases[] = {
        // the part sweep before, the fault switched on for the command, the command
        {kReadFlash, nullptr, kOut, kReadFlash, 3999},
        {kWriteFlash, nullptr, kOut, kWriteFlash, 4000},
        {kReadFlash, nullptr, kOut, 6, 308},
        {kReadFlash, "refuse-4", kOut, kReadFlash, 4000},
        {kWriteFlash, "refuse-5", kIn, kWriteFlash, 4000},
        {kWriteFlash, "refuse-3", kIn, kEraseFlash, 2},
        {kReadFlash, "refuse-0", kOut, kGetEEPConfig, 308},
    };
    for (const auto& [chunks, fault, form, selector, size] : cases) {
        std::vector<uint8_t> buffer(4000, 0x5A);
        for (int k = 0; k < 5; ++k) ASSERT_EQ(command(chunks, buffer.data()), kIOReturnSuccess);
        if (fault) host.hostOk({"fault", fault, "on"});
        EXPECT_NE(call(form, selector, buffer.data(), size), kIOReturnSuccess) << selector;
        EXPECT_EQ(cursors(), "read 0 write 0") << selector << (fault ? fault : "");
        if (fault) host.hostOk({"fault", fault, "off"});
    }
}

// A process killed while it stores leaves the old record or the new one, never a mixture, and
// the host's state stays readable.
TEST_F(UtilityDriverTest, AKilledStoreNeverLeavesATornRecord) {
    const std::string original = file("eeprom.bin");
    std::string records[2] = {testhost::PatternRecord(1), testhost::PatternRecord(2)};
    std::mt19937 random(820);
    for (int round = 0; round < 30; ++round) {
        pid_t child = fork();
        if (child == 0)
            for (unsigned n = 0;; ++n)
                command(kSetEEPConfig, reinterpret_cast<uint8_t*>(records[n % 2].data()));
        // The first child finishes a store, so that the rounds compare real replacements.
        for (int wait = 0; round == 0 && wait < 3000 && file("eeprom.bin") == original; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string record = file("eeprom.bin");
        ASSERT_TRUE(record == records[0] || record == records[1]) << "round " << round;
        ASSERT_EQ(host.commandCounts().size(), 6u) << "state unreadable in round " << round;
    }
}

}  // namespace
