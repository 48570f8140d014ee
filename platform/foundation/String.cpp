// NSString: UTF-16 text with UTF-8 conversions and printf-style formatting.
#include <QString>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/foundation/Formatting.h"
#include "platform/foundation/Foundation.h"

NSString::NSString(const char* utf8)
    : units_(utf8 == nullptr ? std::u16string() : QString::fromUtf8(utf8).toStdU16String()) {}

NSString::NSString(const std::string& utf8)
    : units_(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String()) {
}

NSString NSString::stringWithFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatV(format, args);
    va_end(args);
    return NSString(text);
}

bool NSString::containsString(const NSString& other) const {
    // An empty string is contained in nothing, as on the platform.
    return !other.units_.empty() && units_.find(other.units_) != std::u16string::npos;
}

std::string NSString::UTF8String() const {
    return QString::fromStdU16String(units_).toStdString();
}
