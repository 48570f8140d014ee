// NSString: UTF-16 text with UTF-8 conversions and printf-style formatting.
#include <QString>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/foundation/Foundation.h"

NSString::NSString(const char* utf8)
    : units_(utf8 == nullptr ? std::u16string() : QString::fromUtf8(utf8).toStdU16String()) {}

NSString::NSString(const std::string& utf8)
    : units_(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String()) {
}

std::string NSString::UTF8String() const {
    return QString::fromStdU16String(units_).toStdString();
}
