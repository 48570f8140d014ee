// Foundation stand-in: the root object, text, the main bundle with its information dictionary
// and string table, property-list dictionaries, whole-file reading, the home directory and the
// system log. No Qt type appears here; the implementation may use Qt.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The platform's root object class.
class NSObject {
public:
    virtual ~NSObject() = default;
};
typedef NSObject* id;

// Text as a sequence of UTF-16 code units, as the platform's strings are. Made from bytes that
// are not well-formed UTF-8 (a file name in Latin-1, say), each stray byte is kept as the lone
// surrogate U+DC80 to U+DCFF and UTF8String gives the very same bytes back: a path goes through
// an NSString byte for byte, and names the file it named.
class NSString {
public:
    NSString() = default;
    NSString(const char* utf8);         // NOLINT: implicit like a string literal
    NSString(const std::string& utf8);  // NOLINT
    explicit NSString(std::u16string units) : units_(std::move(units)) {}

    static NSString stringWithString(const NSString& other) { return other; }

    size_t length() const { return units_.size(); }
    char16_t characterAtIndex(size_t index) const { return units_.at(index); }
    void appendString(const NSString& other) { units_ += other.units_; }
    std::string UTF8String() const;
    const std::u16string& units() const { return units_; }

    bool operator==(const NSString& other) const { return units_ == other.units_; }
    bool operator!=(const NSString& other) const { return units_ != other.units_; }

private:
    std::u16string units_;
};

// A property-list dictionary. Values that are strings, integers or reals are kept as text;
// other values (arrays, dictionaries, data) are held but have no text.
class NSDictionary {
public:
    // The dictionary stored in a property-list file (XML or binary), or nothing when the file
    // is missing, unreadable, malformed or does not hold a dictionary at its top.
    static std::optional<NSDictionary> dictionaryWithContentsOfFile(const NSString& path);
    std::optional<NSString> objectForKey(const char* key) const;

    std::map<std::string, std::optional<std::string>> entries;
};

// Whole-file contents.
class NSData {
public:
    enum class ReadStatus { ok, unreadable, notRegularFile, tooLarge };

    // A regular file of at most maxLength bytes. The file is opened without blocking and
    // checked on the open descriptor before anything is read, so a FIFO or device never
    // blocks and a file larger than maxLength is never read into memory.
    static std::optional<NSData> dataWithContentsOfRegularFile(const NSString& path,
                                                               size_t maxLength,
                                                               ReadStatus* status);
    size_t length() const { return bytes_.size(); }
    const uint8_t* bytes() const { return bytes_.data(); }

    std::vector<uint8_t> bytes_;
};

// The application's own bundle: the parent of the Contents directory that holds the running
// program.
class NSBundle {
public:
    static NSBundle& mainBundle();
    NSString bundlePath() const;
    // The bundle's Contents/Info.plist, or nothing when it cannot be read.
    const NSDictionary* infoDictionary() const;
    // Looks the key up in the bundle's string table for the user's language, anew at each call.
    // A key that the table lacks (or a missing table) comes back as `value` when that is not
    // empty, else as the key itself.
    NSString localizedStringForKey(const NSString& key, const NSString& value,
                                   const char* table) const;

private:
    friend void SetMainBundleLocation(const std::string& path);
    NSBundle() = default;
    mutable std::optional<std::optional<NSDictionary>> info_;
};

// The key whose text, handed out by localizedStringForKey, the message is or begins with; empty
// when none is.
std::string NSBundleKeyOfText(const NSString& message);

// The user's home directory.
NSString NSHomeDirectory();

// Writes one entry to the system log of the emulated host (var/log/system.log under the host
// root: time, program name and pid, text) and echoes it to standard error. Control characters
// and backslashes in the text are escaped so that every entry is one line.
void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
