// printf-style formatting into a std::string of any length.
#pragma once

#include <cstdarg>
#include <string>

// Formats with vsnprintf semantics; the va_list is consumed as by vsnprintf.
std::string FormatV(const char* format, va_list args);
