// NSDictionary: property-list dictionaries read with libplist (XML and binary forms).
#include <plist/plist.h>

#include <QLocale>
#include <QString>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>

#include "common/PropertyListDepth.h"
#include "platform/foundation/Foundation.h"

namespace {

// Property lists the utility reads are a few kilobytes; anything far larger is not one.
constexpr size_t kMaxPropertyListSize = 16 * 1024 * 1024;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
    void operator()(void* p) const { std::free(p); }
};
using MallocString = std::unique_ptr<char, MallocDeleter>;

// Integers are stored as 64-bit patterns; property lists hold signed integers, so a value
// with the top bit set is a negative number.
std::string IntegerText(plist_t node) {
    uint64_t raw = 0;
    plist_get_uint_val(node, &raw);
    if (raw > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        return std::to_string(static_cast<int64_t>(raw));
    }
    return std::to_string(raw);
}

std::string RealText(plist_t node) {
    double value = 0;
    plist_get_real_val(node, &value);
    return QString::number(value, 'g', QLocale::FloatingPointShortest).toStdString();
}

std::optional<std::string> ValueText(plist_t node) {
    switch (plist_get_node_type(node)) {
        case PLIST_STRING: {
            char* raw = nullptr;
            plist_get_string_val(node, &raw);
            MallocString text(raw);
            return std::string(text ? text.get() : "");
        }
        case PLIST_UINT:
            return IntegerText(node);
        case PLIST_REAL:
            return RealText(node);
        default:
            return std::nullopt;
    }
}

NSDictionary EntriesOf(plist_t dict) {
    NSDictionary result;
    plist_dict_iter rawIter = nullptr;
    plist_dict_new_iter(dict, &rawIter);
    std::unique_ptr<void, MallocDeleter> iter(rawIter);
    while (iter) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dict, rawIter, &rawKey, &value);
        MallocString key(rawKey);
        if (!key) break;
        result.entries[key.get()] = ValueText(value);
    }
    return result;
}

}  // namespace

std::optional<NSDictionary> NSDictionary::dictionaryWithContentsOfFile(const NSString& path) {
    NSData::ReadStatus status = NSData::ReadStatus::ok;
    auto data = NSData::dataWithContentsOfRegularFile(path, kMaxPropertyListSize, &status);
    if (!data || data->length() == 0) return std::nullopt;
    // The library parses nested containers by recursion: a list nested too deeply is unreadable.
    const std::string_view bytes(reinterpret_cast<const char*>(data->bytes()), data->length());
    if (!sc820::PropertyListWithinDepth(bytes)) return std::nullopt;
    plist_t rawRoot = nullptr;
    plist_from_memory(reinterpret_cast<const char*>(data->bytes()),
                      static_cast<uint32_t>(data->length()), &rawRoot);
    PlistPtr root(rawRoot);
    if (!root || plist_get_node_type(rawRoot) != PLIST_DICT) return std::nullopt;
    return EntriesOf(rawRoot);
}

std::optional<NSString> NSDictionary::objectForKey(const char* key) const {
    if (key == nullptr) return std::nullopt;
    auto found = entries.find(key);
    if (found == entries.end() || !found->second) return std::nullopt;
    return NSString(*found->second);
}
