// NSBundle: the application's own bundle, found from the running program's path.
#include <unistd.h>

#include <filesystem>
#include <map>

#include "common/ProgramPath.h"
#include "platform/foundation/BundleLocation.h"
#include "platform/foundation/Foundation.h"
#include "platform/foundation/StringTable.h"

namespace fs = std::filesystem;

namespace {

std::string& LocatedBundlePath() {
    static std::string path;
    return path;
}

// The program lives in <bundle>/Contents/bin/; anywhere else (a test program) it is not in a
// bundle.
std::string BundleOfExecutable(const fs::path& exe) {
    fs::path contents = exe.parent_path().parent_path();
    if (contents.filename() != "Contents") return {};
    return contents.parent_path().string();
}

std::string CurrentBundlePath() {
    fs::path exe = sc820::ProgramPath();
    std::string bundle = BundleOfExecutable(exe);
    if (!bundle.empty()) return bundle;
    if (!LocatedBundlePath().empty()) return LocatedBundlePath();
    return exe.parent_path().string();
}

// The texts handed out, by text: which key a shown message came from.
std::map<std::u16string, std::string>& KeysOfTexts() {
    static std::map<std::u16string, std::string> keys;
    return keys;
}

StringTable& SharedStringTable() {
    static StringTable table;
    return table;
}

}  // namespace

NSBundle& NSBundle::mainBundle() {
    static NSBundle bundle;
    return bundle;
}

void SetMainBundleLocation(const std::string& path) {
    LocatedBundlePath() = path;
    NSBundle::mainBundle().info_.reset();
}

NSString NSBundle::bundlePath() const {
    return NSString(CurrentBundlePath());
}

const NSDictionary* NSBundle::infoDictionary() const {
    if (!info_) {
        info_ = NSDictionary::dictionaryWithContentsOfFile(
            NSString(CurrentBundlePath() + "/Contents/Info.plist"));
    }
    return info_->has_value() ? &info_->value() : nullptr;
}

NSString NSBundle::localizedStringForKey(const NSString& key, const NSString& value,
                                         const char* table) const {
    // Only the default table is shipped; a named table has no texts.
    if (table == nullptr || *table == '\0') {
        std::string dir = CurrentBundlePath() + "/Contents/Resources/translations";
        if (auto text = SharedStringTable().lookup(dir, key.UTF8String())) {
            NSString found(text->toStdU16String());
            KeysOfTexts()[found.units()] = key.UTF8String();
            return found;
        }
    }
    return value.length() != 0 ? value : key;
}

std::string NSBundleKeyOfText(const NSString& message) {
    // A composed message starts with the text of its first key.
    std::string key;
    size_t longest = 0;
    for (const auto& [text, textKey] : KeysOfTexts()) {
        if (text.size() > longest && message.units().compare(0, text.size(), text) == 0) {
            key = textKey;
            longest = text.size();
        }
    }
    return key;
}
