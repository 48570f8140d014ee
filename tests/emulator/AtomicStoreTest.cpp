// A process killed while it stores the configuration leaves the old record or the new one,
// never a mixture, and the host's state stays readable.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "card/CommandCodes.h"
#include "emulator/UtilityDriver.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

namespace {

// Stores the two records in turn until killed.
[[noreturn]] void StoreForever(const std::string& root, uint32_t service, const std::string& a,
                               const std::string& b) {
    std::vector<uint8_t> records[2] = {{a.begin(), a.end()}, {b.begin(), b.end()}};
    for (unsigned n = 0;; ++n) {
        emu::UserClientCall call{emu::CallForm::structureInput, kSetEEPConfig, 0,
                                 records[n % 2].data(),         308,           0};
        emu::CallUtilityDriver(root, service, call);
    }
}

TEST(AtomicStoreTest, AKilledStoreNeverLeavesATornRecord) {
    TempHost host;
    TempDir scratch;
    testhost::SwapInUtilityDriver(host, scratch.path());
    uint32_t service =
        static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    const std::string original = ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin");
    const std::string a = testhost::PatternRecord(1);
    const std::string b = testhost::PatternRecord(2);

    std::mt19937 random(820);
    std::uniform_int_distribution<int> delay(0, 10000);
    for (int round = 0; round < 30; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) StoreForever(host.root(), service, a, b);
        if (round == 0) {
            // Let the first child finish a store, so that the rounds compare real replacements.
            for (int wait = 0; wait < 500 && host.commandCounts()[kSetEEPConfig] == 0; ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        std::string record = ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin");
        ASSERT_TRUE(record == a || record == b || record == original)
            << "torn record in round " << round;
        ASSERT_EQ(host.commandCounts().size(), 6u) << "state unreadable in round " << round;
    }
    std::string record = ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin");
    EXPECT_TRUE(record == a || record == b) << "no store completed: the test proved nothing";
}

}  // namespace
