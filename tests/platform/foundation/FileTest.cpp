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

TEST_F(FileTest, RegularFilesUpToTheLimitAreReadWhole) {
    const size_t limit = 69536;
    for (size_t size : {size_t{0}, limit, limit + 1, size_t{1} << 20}) {
        std::string bytes(size, '\0');
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + 1);
        Status status = Status::unreadable;
        auto data = NSData::dataWithContentsOfRegularFile(write(bytes), limit, &status);
        EXPECT_EQ(status, size <= limit ? Status::ok : Status::tooLarge) << size;
        ASSERT_EQ(data.has_value(), size <= limit) << size;
        EXPECT_EQ(data ? std::string(data->bytes(), data->bytes() + data->length()) : bytes, bytes);
    }
}

TEST_F(FileTest, RefusesWhatIsNotARegularFileWithoutBlocking) {
    std::string fifo = dir_.path() + "/image.rom";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, Status> cases[] = {
        {fifo, Status::notRegularFile},  // no writer: a blocking open or read would hang
        {dir_.path(), Status::notRegularFile},
        {"/dev/null", Status::notRegularFile},
        {dir_.path() + "/absent", Status::unreadable},
    };
    for (const auto& [path, want] : cases) {
        Status status = Status::ok;
        EXPECT_FALSE(NSData::dataWithContentsOfRegularFile(NSString(path), 100, &status)) << path;
        EXPECT_EQ(status, want) << path;
        EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(path))) << path;
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

// A name that is not UTF-8 reaches the file it names, never the one whose name holds the
// replacement character in its place.
TEST_F(FileTest, NamesThatAreNotUtf8ReadTheirOwnFile) {
    const std::pair<const char*, const char*> files[] = {
        {"img\xFF.bin", "latin-1"},
        {"img\xEF\xBF\xBD.bin", "replacement"},
        {"caf\xE9\xC3.bin", "mixed"},
    };
    for (const auto& [name, content] : files) WriteFileBytes(dir_.path() + "/" + name, content);
    for (const auto& [name, content] : files) {
        Status status = Status::unreadable;
        const auto data =
            NSData::dataWithContentsOfRegularFile(NSString(dir_.path() + "/" + name), 100, &status);
        ASSERT_TRUE(data.has_value()) << name;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->bytes()), data->length()),
                  content);
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
