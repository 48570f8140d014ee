// How the emulated host answers a request for rights that needs the user, in place of a person
// typing a password: set by `sc820-host auth`, read by the authorization stand-in.
#pragma once

namespace emu {

enum class AuthPolicy { allow, deny, cancel };

}  // namespace emu
