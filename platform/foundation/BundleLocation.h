// Where the main bundle is when the running program does not live inside one (a test program
// or a benchmark). The utility itself is always found from its own path and never calls this;
// internal to the foundation stand-in.
#pragma once

#include <string>

// Places the main bundle at `path` for a program outside any bundle; an empty path undoes it.
void SetMainBundleLocation(const std::string& path);
