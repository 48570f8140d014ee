// The foundation stand-ins: strings as UTF-16 code units, the system log, regular files of a
// bounded size read without blocking, property lists, the home folder, and the bundle's string
// tables with the message catalogue the utility shows from them.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "app/Messages.h"
#include "emulator/host/HostRoot.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/StringTable.h"
#include "tests/support/NestedPlists.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

TEST(NSStringTest, StoresUtf16CodeUnits) {
    const std::pair<const char*, std::u16string> cases[] = {
        {"Gr\xC3\xB6\xC3\x9F", u"Gr\u00F6\u00DF"},  // two-byte sequences: one unit each
        {"\xF0\x9D\x84\x9E", u"\xD834\xDD1E"},      // outside the BMP: a surrogate pair
        // Bytes that are not UTF-8 are kept, each as U+DC80 to U+DCFF, so a name comes back
        // byte for byte and differs from the name that holds the replacement character.
        {"img\xFF.bin", u"img\xDCFF.bin"},
        {"img\xEF\xBF\xBD.bin", u"img\uFFFD.bin"},
        {"\xC3\x28", u"\xDCC3("},                                     // a sequence cut short
        {"\xC0\xAF\xED\xB2\x80", u"\xDCC0\xDCAF\xDCED\xDCB2\xDC80"},  // overlong, surrogate
        {"\xF0\x9D\x84", u"\xDCF0\xDC9D\xDC84"},                      // truncated at the end
    };
    for (const auto& [utf8, units] : cases) {
        NSString text(utf8);
        EXPECT_EQ(text.units(), units) << utf8;
        ASSERT_EQ(text.length(), units.size()) << utf8;
        for (size_t i = 0; i < units.size(); ++i) EXPECT_EQ(text.characterAtIndex(i), units[i]);
        EXPECT_EQ(text.UTF8String(), utf8);
    }
    EXPECT_EQ(NSString(static_cast<const char*>(nullptr)).length(), 0u);
}

std::string Plist(const std::string& body) {
    return "<?xml version=\"1.0\"?><plist version=\"1.0\">" + body + "</plist>";
}

// Values without text are still entries. Megabytes of nested arrays would take the property-list
// library's recursion through the stack; such a list is unreadable instead.
TEST(PropertyListTest, ADictionaryWithValuesAsTextOrNothing) {
    TempDir dir_;
    int files = 0;
    const auto write = [&](const std::string& bytes) {
        WriteFileBytes(dir_.path() + "/f" + std::to_string(++files), bytes);
        return dir_.path() + "/f" + std::to_string(files);
    };
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
    ASSERT_EQ(mkfifo((dir_.path() + "/fifo").c_str(), 0600), 0);  // no writer: a read would hang
    EXPECT_FALSE(NSDictionary::dictionaryWithContentsOfFile(NSString(dir_.path() + "/fifo")));
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

std::string Text(const char* key, const char* fallback = "") {
    return NSBundle::mainBundle()
        .localizedStringForKey(NSString(key), NSString(fallback), nullptr)
        .UTF8String();
}

class BundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
            saved_.emplace_back(name, std::getenv(name) ? std::getenv(name) : "");
            unsetenv(name);
        }
        setenv("LANG", "en_US.UTF-8", 1);
        UseMainBundleAt(SC820_BUNDLE_DIR);
    }
    void TearDown() override {
        UseMainBundleAt("");
        for (const auto& [n, v] : saved_)
            v.empty() ? unsetenv(n.c_str()) : setenv(n.c_str(), v.c_str(), 1);
    }
    std::vector<std::pair<std::string, std::string>> saved_;
    RecordingBackend backend_;
};

// The user's languages follow Qt's order of the variables, and the alerts speak the first one
// that has tables, whichever variable chooses it. LANGUAGE outranks every other variable, as in
// every Qt program; a language without tables gives way to the next one named.
TEST_F(BundleTest, TheAlertsSpeakTheUsersLanguage) {
    const std::tuple<std::map<std::string, std::string>, QStringList, bool> cases[] = {
        {{}, {"en"}, false},
        {{{"LANG", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LANG", "de_AT.UTF-8@euro"}}, {"de_AT"}, true},
        {{{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, {"en"}, false},
        {{{"LANG", "POSIX"}}, {"en"}, false},
        {{{"LANGUAGE", "fr:de"}, {"LC_ALL", "C.UTF-8"}}, {"fr", "de"}, true},
        {{{"LANGUAGE", "de_AT:de::"}, {"LANG", "en_US.UTF-8"}}, {"de_AT", "de"}, true},
        {{{"LANGUAGE", ""}, {"LANG", "de_DE.UTF-8"}}, {"de_DE"}, true},
        {{{"LANGUAGE", "fr"}, {"LANG", "de_DE.UTF-8"}}, {"fr"}, false},
        {{{"LANGUAGE", "en:de"}, {"LANG", "de_DE.UTF-8"}}, {"en", "de"}, false},
    };
    for (const auto& [locale, languages, german] : cases) {
        SCOPED_TRACE(languages.join(':').toStdString());
        for (const auto& [n, v] : saved_)
            locale.count(n) ? setenv(n.c_str(), locale.at(n).c_str(), 1) : unsetenv(n.c_str());
        EXPECT_EQ(StringTable::userLanguages(), languages);
        EXPECT_NE(Text("MSG_START").find(german ? "Fortfahren?" : "Continue?"), std::string::npos);
    }
}

// Every message has its text in English and in German, and shows as it is, never as a format;
// without tables, or with a broken one, the key itself (or the fallback) shows.
TEST_F(BundleTest, EveryMessageHasItsTextsElseTheKeyShows) {
    for (const char* lang : {"de_DE.UTF-8", "en_US.UTF-8"}) {
        setenv("LANG", lang, 1);
        for (const char* key :
             {"MSG_APPNAME", "MSG_WARN", "MSG_PATHERROR", "MSG_CHECKPATH", "MSG_START",
              "MSG_SLOTERROR", "MSG_INITIALIZE", "MSG_ERASE", "MSG_WRITE", "MSG_WRITESTART",
              "MSG_WRITEFAIL", "MSG_WRITESUCCESS", "MSG_SUCCESS", "MSG_READFAIL", "MSG_STOREFAIL",
              "MSG_DEFAULTFAIL", "MSG_ERASEFAIL", "MSG_FILEERROR"})
            EXPECT_FALSE(Text(key) == key || Text(key).empty()) << lang << " " << key;
    }
    EXPECT_EQ(ShowAlertWithMessage(NSString("100% done %s %n"), AlertButtons::ok), 1);
    EXPECT_EQ(backend_.alerts.back().message, "100% done %s %n");
    EXPECT_EQ(Text("MSG_NOSUCHKEY") + Text("MSG_NOSUCHKEY", "Fallback"), "MSG_NOSUCHKEYFallback");
    TempDir empty, broken;
    std::filesystem::create_directories(broken.path() + "/Contents/Resources/translations");
    WriteFileBytes(broken.path() + "/Contents/Resources/translations/sc820_en.qm", "not a table");
    for (const TempDir* dir : {&empty, &broken}) {
        UseMainBundleAt(dir->path());
        ShowAlert(MSG_WRITE, AlertButtons::okCancel);
        EXPECT_EQ(backend_.alerts.back().title + " " + backend_.alerts.back().message,
                  "MSG_APPNAME MSG_WRITE");
    }
}

}  // namespace
