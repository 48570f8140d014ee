// NSString: UTF-16 text with UTF-8 conversions and printf-style formatting.
#include <QString>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/foundation/Foundation.h"

namespace {

// A byte that is not part of well-formed UTF-8 (always 0x80 to 0xFF) is kept as the lone low
// surrogate U+DC80 to U+DCFF, which no well-formed text holds: file names are bytes, and one
// that is not UTF-8 must name the same file after the round trip, never a look-alike.
constexpr char16_t kByteEscape = 0xDC00;

// The length of the well-formed sequence at `at` and its code point; 0 when there is none.
size_t DecodeOne(const unsigned char* at, size_t left, char32_t* point) {
    const unsigned char lead = at[0];
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : (lead & 0xF0) == 0xE0        ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || length > left) return 0;
    char32_t value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (at[i] & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *point = value;
    return length;
}

std::u16string Decode(const char* bytes, size_t size) {
    std::u16string units;
    units.reserve(size);
    const auto* at = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size;) {
        char32_t point = 0;
        const size_t length = DecodeOne(at + i, size - i, &point);
        if (length == 0) {
            units += static_cast<char16_t>(kByteEscape + at[i]);
            ++i;
            continue;
        }
        if (point >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(point);
        }
        i += length;
    }
    return units;
}

void Encode(char32_t point, std::string* out) {
    if (point < 0x80) {
        *out += static_cast<char>(point);
    } else if (point < 0x800) {
        *out += static_cast<char>(0xC0 | (point >> 6));
        *out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        *out += static_cast<char>(0xE0 | (point >> 12));
        *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (point >> 18));
        *out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

}  // namespace

NSString::NSString(const char* utf8)
    : units_(utf8 == nullptr ? std::u16string() : Decode(utf8, std::strlen(utf8))) {}

NSString::NSString(const std::string& utf8) : units_(Decode(utf8.data(), utf8.size())) {}

std::string NSString::UTF8String() const {
    std::string out;
    out.reserve(units_.size());
    for (size_t i = 0; i < units_.size(); ++i) {
        const char16_t unit = units_[i];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units_.size() &&
                          units_[i + 1] >= 0xDC00 && units_[i + 1] <= 0xDFFF;
        if (pair) {
            Encode(0x10000 + ((char32_t(unit) - 0xD800) << 10) + (units_[++i] - 0xDC00), &out);
        } else if (unit >= kByteEscape + 0x80 && unit <= kByteEscape + 0xFF) {
            out += static_cast<char>(unit - kByteEscape);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            Encode(0xFFFD, &out);  // any other lone surrogate stands for nothing
        } else {
            Encode(unit, &out);
        }
    }
    return out;
}
