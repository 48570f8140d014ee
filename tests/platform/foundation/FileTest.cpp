// Reading files: regular files of a bounded size without blocking, and property lists.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "emulator/host/HostRoot.h"
#include "platform/foundation/Foundation.h"
#include "tests/support/NestedPlists.h"
#include "tests/support/TempHost.h"

namespace {

using Status = NSData::ReadStatus;

std::string Plist(const std::string& body) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>";
}

class FileTest : public ::testing::Test {
protected:
    void SetUp() override { alarm(30); }  // a read that blocks ends the program, not hangs it
    void TearDown() override { alarm(0); }
    NSString write(const std::string& bytes) {
        std::string path = dir_.path() + "/f" + std::to_string(++files_);
        WriteFileBytes(path, bytes);
        return NSString(path);
    }
    TempDir dir_;
    int files_ = 0;
};

// Regular files up to the limit are read whole, also when their name is not UTF-8 (never the
// file whose name holds the replacement character in its place); what is larger, or not a
// regular file, is refused without blocking, and is no property list either.
TEST_F(FileTest, RegularFilesUpToTheLimitAreReadWholeTheRestRefused) {
    const size_t limit = 69536;
    std::string big(limit + 1, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + 1);
    const std::string fifo = dir_.path() + "/image.rom";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const char* name : {"img\xFF.bin", "img\xEF\xBF\xBD.bin", "caf\xE9\xC3.bin"}) {
        WriteFileBytes(dir_.path() + "/" + name, name);
    }
    const struct Case {
        std::string path;
        Status status;
        std::string content;
    } cases[] = {
        {write("").UTF8String(), Status::ok, ""},
        {write(big.substr(0, limit)).UTF8String(), Status::ok, big.substr(0, limit)},
        {write(big).UTF8String(), Status::tooLarge, ""},
        {write(std::string(1 << 20, 'x')).UTF8String(), Status::tooLarge, ""},
        {dir_.path() + "/img\xFF.bin", Status::ok, "img\xFF.bin"},
        {dir_.path() + "/img\xEF\xBF\xBD.bin", Status::ok, "img\xEF\xBF\xBD.bin"},
        {dir_.path() + "/caf\xE9\xC3.bin", Status::ok, "caf\xE9\xC3.bin"},
        {fifo, Status::notRegularFile, ""},  // no writer: a blocking open or read would hang
        {dir_.path(), Status::notRegularFile, ""},
        {"/dev/null", Status::notRegularFile, ""},
        {dir_.path() + "/absent", Status::unreadable, ""},
    };
    for (const Case& c : cases) {
        Status status = c.status == Status::ok ? Status::unreadable : Status::ok;
        const auto data = NSData::dataWithContentsOfRegularFile(NSString(c.path), limit, &status);
        EXPECT_EQ(status, c.status) << c.path;
        ASSERT_EQ(data.has_value(), c.status == Status::ok) << c.path;
        if (data) {
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->bytes()), data->length()),
                      c.content);
        } else {
            EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(c.path))) << c.path;
        }
    }
}

TEST_F(FileTest, PropertyListsGiveADictionaryWithValuesAsTextOrNothing) {
    auto dict = NSDictionary::dictionaryWithContentsOfFile(write(
        Plist("<dict><key>CFBundleVersion</key><string>1.0.2</string><key>Flag</key><true/>"
              "<key>Build</key><integer>-5</integer><key>Ratio</key><real>1.5</real></dict>")));
    ASSERT_TRUE(dict.has_value());
    EXPECT_EQ(dict->objectForKey("CFBundleVersion")->UTF8String(), "1.0.2");
    EXPECT_EQ(dict->objectForKey("Build")->UTF8String(), "-5");
    EXPECT_EQ(dict->objectForKey("Ratio")->UTF8String(), "1.5");
    for (const char* key : {"Flag", "Missing"}) EXPECT_FALSE(dict->objectForKey(key)) << key;
    EXPECT_EQ(dict->entries.size(), 4u);  // values without text are still there
    EXPECT_TRUE(NSDictionary::dictionaryWithContentsOfFile(write(Plist("<dict/>"))));
    const std::string notDictionaries[] = {
        "",
        "CFBundleVersion = 1.0.2\n",
        std::string("bplist00\xff\xff\xff\xff\x00\x01", 14),
        Plist("<dict><key>CFBundleVersion</key><string>1.0.2</string>"),  // unclosed
        Plist("<array><string>1.0.2</string></array>"),
        Plist("<string>1.0.2</string>"),
    };
    for (const std::string& bytes : notDictionaries) {
        EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(write(bytes))) << bytes;
    }
}

// Megabytes of nested arrays would take the property-list library's recursion through the
// stack; such a list is unreadable instead.
TEST_F(FileTest, DeeplyNestedPropertyListsAreUnreadable) {
    for (const std::string& bytes :
         {nested::XmlArrays(1'000'000), nested::BinaryArrays(1'000'000)}) {
        EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(write(bytes)));
    }
}

// The home folder follows one rule wherever it is used, the emulated host's default root
// included: HOME when absolute, else the password database's entry.
TEST(HomeFolderTest, HomeWhenAbsoluteElseThePasswordDatabase) {
    const std::string saved = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const std::string root =
        std::getenv("SC820_HOST_ROOT") != nullptr ? std::getenv("SC820_HOST_ROOT") : "";
    unsetenv("SC820_HOST_ROOT");
    unsetenv("XDG_STATE_HOME");
    const std::string database = getpwuid(getuid())->pw_dir;
    const std::pair<const char*, std::string> cases[] = {{nullptr, database},
                                                         {"", database},
                                                         {"relative/home", database},
                                                         {"/srv/home", "/srv/home"}};
    for (const auto& [home, expected] : cases) {
        SCOPED_TRACE(home != nullptr ? home : "(unset)");
        if (home == nullptr) {
            unsetenv("HOME");
        } else {
            setenv("HOME", home, 1);
        }
        EXPECT_EQ(NSHomeDirectory().UTF8String(), expected);
        EXPECT_EQ(emu::DefaultHostRoot(),
                  (expected == "/" ? "" : expected) + "/.local/state/sc820/host");
    }
    setenv("HOME", saved.c_str(), 1);
    if (!root.empty()) setenv("SC820_HOST_ROOT", root.c_str(), 1);
}

}  // namespace
