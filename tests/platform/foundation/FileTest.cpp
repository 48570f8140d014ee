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
    std::string write(const std::string& bytes, std::string name = "") {
        if (name.empty()) name = "f" + std::to_string(++files_);
        WriteFileBytes(dir_.path() + "/" + name, bytes);
        return dir_.path() + "/" + name;
    }
    TempDir dir_;
    int files_ = 0;
};

// Regular files up to the limit are read whole, also when their name is not UTF-8 (never the
// file whose name holds the replacement character in its place); what is larger, or not a
// regular file, is refused without blocking, and is no property list either.
TEST_F(FileTest, RegularFilesUpToTheLimitAreReadWholeTheRestRefused) {
    const size_t limit = 69536;
    std::string full(limit, '\0');
    for (size_t i = 0; i < limit; ++i) full[i] = static_cast<char>(i * 7 + 1);
    const std::string fifo = dir_.path() + "/image.rom";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::tuple<std::string, Status, std::string> cases[] = {
        {write(""), Status::ok, ""},
        {write(full), Status::ok, full},
        {write(full + "c"), Status::tooLarge, ""},
        {write(std::string(1 << 20, 'x')), Status::tooLarge, ""},
        {write("1", "img\xFF.bin"), Status::ok, "1"},
        {write("2", "img\xEF\xBF\xBD.bin"), Status::ok, "2"},
        {write("3", "caf\xE9\xC3.bin"), Status::ok, "3"},
        {fifo, Status::notRegularFile, ""},  // no writer: a blocking open or read would hang
        {dir_.path(), Status::notRegularFile, ""},
        {"/dev/null", Status::notRegularFile, ""},
        {dir_.path() + "/absent", Status::unreadable, ""},
    };
    for (const auto& [path, expected, content] : cases) {
        Status status = expected == Status::ok ? Status::unreadable : Status::ok;
        const auto data = NSData::dataWithContentsOfRegularFile(NSString(path), limit, &status);
        EXPECT_EQ(status, expected) << path;
        EXPECT_EQ(data ? std::string(reinterpret_cast<const char*>(data->bytes()), data->length())
                       : "(none)",
                  expected == Status::ok ? content : "(none)");
        EXPECT_TRUE(data || !NSDictionary::dictionaryWithContentsOfFile(NSString(path))) << path;
    }
}

// Values without text are still entries. Megabytes of nested arrays would take the property-list
// library's recursion through the stack; such a list is unreadable instead.
TEST_F(FileTest, PropertyListsGiveADictionaryWithValuesAsTextOrNothing) {
    auto dict = NSDictionary::dictionaryWithContentsOfFile(NSString(write(
        Plist("<dict><key>CFBundleVersion</key><string>1.0.2</string><key>Flag</key><true/>"
              "<key>Build</key><integer>-5</integer><key>Ratio</key><real>1.5</real></dict>"))));
    ASSERT_TRUE(dict.has_value());
    EXPECT_EQ(dict->objectForKey("CFBundleVersion")->UTF8String() +
                  dict->objectForKey("Build")->UTF8String() +
                  dict->objectForKey("Ratio")->UTF8String(),
              "1.0.2-51.5");
    EXPECT_FALSE(dict->objectForKey("Flag") || dict->objectForKey("Missing"));
    EXPECT_EQ(dict->entries.size(), 4u);
    EXPECT_TRUE(NSDictionary::dictionaryWithContentsOfFile(NSString(write(Plist("<dict/>")))));
    for (const std::string& bytes :
         {std::string(), std::string("CFBundleVersion = 1.0.2\n"),
          std::string("bplist00\xff\xff\xff\xff\x00\x01", 14),
          Plist("<dict><key>CFBundleVersion</key><string>1.0.2</string>"),  // unclosed
          Plist("<array><string>1.0.2</string></array>"), Plist("<string>1.0.2</string>"),
          nested::XmlArrays(1'000'000), nested::BinaryArrays(1'000'000)}) {
        EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(write(bytes))))
            << bytes.substr(0, 40);
    }
}

// The home folder follows one rule wherever it is used, the emulated host's default root
// included: HOME when absolute, else the password database's entry.
TEST(HomeFolderTest, HomeWhenAbsoluteElseThePasswordDatabase) {
    const std::string saved = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const char* root = std::getenv("SC820_HOST_ROOT");
    const std::string savedRoot = root != nullptr ? root : "";
    unsetenv("SC820_HOST_ROOT");
    unsetenv("XDG_STATE_HOME");
    const std::string database = getpwuid(getuid())->pw_dir;
    for (const auto& [home, expected] : {std::pair<const char*, std::string>{nullptr, database},
                                         {"", database},
                                         {"relative/home", database},
                                         {"/srv/home", "/srv/home"}}) {
        home == nullptr ? unsetenv("HOME") : setenv("HOME", home, 1);
        EXPECT_EQ(NSHomeDirectory().UTF8String(), expected);
        EXPECT_EQ(emu::DefaultHostRoot(),
                  (expected == "/" ? "" : expected) + "/.local/state/sc820/host");
    }
    setenv("HOME", saved.c_str(), 1);
    if (!savedRoot.empty()) setenv("SC820_HOST_ROOT", savedRoot.c_str(), 1);
}

}  // namespace
