// The authorization service: create a reference, copy rights into it, execute a tool with
// privileges, free it. The emulated host's policy (`sc820-host auth allow|deny|cancel`)
// answers every request for rights. A tool executed with privileges is resolved inside the
// host root ("/sbin/kextload" runs <root>/sbin/kextload), started without a shell, and its
// standard output is delivered through the returned stream; closing that stream with fclose
// also reaps the tool's process. A tool still running 2 s after its stream was closed is sent
// SIGTERM, and SIGKILL a second later; a tool that prints nothing for 10 s while keeping its
// output open has its output end there. The system log says when either happens.
#pragma once

#include <cstdint>
#include <cstdio>

typedef int32_t OSStatus;
typedef uint32_t AuthorizationFlags;
typedef struct AuthorizationOpaqueRef* AuthorizationRef;

typedef const char* AuthorizationString;

typedef struct {
    AuthorizationString name;
    size_t valueLength;
    void* value;
    uint32_t flags;
} AuthorizationItem;

typedef struct {
    uint32_t count;
    AuthorizationItem* items;
} AuthorizationItemSet;

typedef AuthorizationItemSet AuthorizationRights;
typedef AuthorizationItemSet AuthorizationEnvironment;

inline constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
inline constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1;
inline constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 2;
inline constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 8;

inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationInvalidSet = -60001;
inline constexpr OSStatus errAuthorizationInvalidRef = -60002;
inline constexpr OSStatus errAuthorizationDenied = -60005;
inline constexpr OSStatus errAuthorizationCanceled = -60006;
inline constexpr OSStatus errAuthorizationInteractionNotAllowed = -60007;
inline constexpr OSStatus errAuthorizationInternal = -60008;
inline constexpr OSStatus errAuthorizationInvalidPointer = -60009;
inline constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;

OSStatus AuthorizationCreate(const AuthorizationRights* rights,
                             const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                             AuthorizationRef* authorization);
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment,
                                 AuthorizationFlags flags, AuthorizationRights** authorizedRights);
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe);
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags);
