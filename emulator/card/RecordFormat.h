// The configuration record decoded for people: every field, padding included, one per line.
#pragma once

#include <string>

namespace emu {

// `record` holds the 308 bytes of a record in host byte order.
std::string DescribeRecord(const std::string& record);

}  // namespace emu
