#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "platform/foundation/Foundation.h"
#include "tests/platform/foundation/ScopedEnv.h"
#include "tests/support/TempHost.h"

namespace {

TEST(SystemLogTest, OneEscapedLinePerEntry) {
    TempHost host;
    size_t before = host.logLines().size();
    NSLog("%s", "com.tavik.driver.ZolSC820 (3.1.4)\nsecond\tpart \\ 100%");
    std::vector<std::string> lines = host.logLines();
    ASSERT_EQ(lines.size(), before + 1);
    const std::string& entry = lines.back();
    std::string program = "foundation_tests[" + std::to_string(getpid()) + "]: ";
    EXPECT_NE(entry.find(program), std::string::npos) << entry;
    std::string text = entry.substr(entry.find(program) + program.size());
    EXPECT_EQ(text, "com.tavik.driver.ZolSC820 (3.1.4)\\nsecond\\tpart \\\\ 100%");
}

TEST(SystemLogTest, LongEntriesAreKeptWhole) {
    TempHost host;
    std::string big(6000, 'k');
    NSLog("%s|%d", big.c_str(), 7);
    std::string entry = host.logLines().back();
    ASSERT_GE(entry.size(), big.size());
    EXPECT_EQ(entry.substr(entry.size() - big.size() - 2), big + "|7");
}

TEST(HomeDirectoryTest, HomeVariableElsePasswordEntry) {
    ScopedEnv env;
    env.set("HOME", "/home/operator");
    EXPECT_EQ(NSHomeDirectory().UTF8String(), "/home/operator");
    env.unset("HOME");
    struct passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(NSHomeDirectory().UTF8String(), entry->pw_dir);
}

}  // namespace
