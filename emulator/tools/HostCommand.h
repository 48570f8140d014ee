// The `sc820-host` admin command: lays out, shows and changes an emulated host.
//
//   sc820-host [--root DIR] init [--force] | repair | status | log
//              | eeprom show|get FILE|put FILE | factory get FILE|put FILE
//              | flash get FILE|put FILE|erase | attach ID | detach ID
//              | auth allow|deny|cancel | fault NAME on|off
//   sc820-host --help | --version | VERB --help
//
// Without --root the host is the one SC820_HOST_ROOT names, else the default host. Exit
// status: 0 done, 1 the operation failed (one line on `err`), 2 a wrong form (usage on `err`).
// `get FILE` replaces only a regular file; `put FILE` reads its input (a file, a FIFO or a
// device, at most one byte more than the part holds) before it locks the host.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace emu {

// `args` are the words after the program name; `hostBinary` is the absolute path of the
// sc820-host program, which `init` links the driver tools to.
int RunHostCommand(const std::vector<std::string>& args, const std::string& hostBinary,
                   std::ostream& out, std::ostream& err);

}  // namespace emu
