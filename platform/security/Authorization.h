#pragma once
// Authorization Services: rights and running a tool with them.
//
// An AuthorizationRef is an opaque handle made by AuthorizationCreate and
// ended by AuthorizationFree. Handles are never reused, so a handle already
// freed is told apart from a live one (errAuthorizationInvalidRef) for as
// long as the process runs.
//
// Rights are granted to a process running with effective user 0 and denied
// to every other process; there is no authentication agent on this platform,
// so nobody is asked and the "prompt" environment item is accepted and not
// shown. A right, once granted, is held by the handle until it is freed.
//
// AuthorizationExecuteWithPrivileges starts the tool without a shell, with
// the tool's path as argv[0] and the given arguments after it, and without
// copying the caller's memory (a vfork-style start: the cost does not grow
// with the caller's heap). With a communications pipe the tool's standard
// input and output are one bidirectional stream, handed back as a FILE*
// that the caller closes with fclose; without one it keeps the caller's.
// Its standard error is the caller's, every other descriptor is closed, no
// signal is blocked and every signal is at its default. The tool is
// detached: it is not a child of the caller, so it never lingers as a
// zombie there, nobody has to wait for it, and it outlives the caller; its
// exit status is not collected. Whether it could be started is known when
// the call returns.
//
// All functions are thread-safe and throw nothing.

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

using OSStatus = std::int32_t;

inline constexpr OSStatus errAuthorizationSuccess = 0;
inline constexpr OSStatus errAuthorizationInvalidSet = -60001;
inline constexpr OSStatus errAuthorizationInvalidRef = -60002;
inline constexpr OSStatus errAuthorizationInvalidPointer = -60004;
inline constexpr OSStatus errAuthorizationDenied = -60005;
inline constexpr OSStatus errAuthorizationCanceled = -60006;
inline constexpr OSStatus errAuthorizationInternal = -60008;
inline constexpr OSStatus errAuthorizationInvalidFlags = -60011;
inline constexpr OSStatus errAuthorizationToolExecuteFailure = -60031;

using AuthorizationFlags = std::uint32_t;

inline constexpr AuthorizationFlags kAuthorizationFlagDefaults = 0;
inline constexpr AuthorizationFlags kAuthorizationFlagInteractionAllowed = 1u << 0;
inline constexpr AuthorizationFlags kAuthorizationFlagExtendRights = 1u << 1;
inline constexpr AuthorizationFlags kAuthorizationFlagPartialRights = 1u << 2;
inline constexpr AuthorizationFlags kAuthorizationFlagDestroyRights = 1u << 3;
inline constexpr AuthorizationFlags kAuthorizationFlagPreAuthorize = 1u << 4;
inline constexpr AuthorizationFlags kAuthorizationFlagSkipInternalAuth = 1u << 9;
inline constexpr AuthorizationFlags kAuthorizationFlagNoData = 1u << 20;

inline constexpr const char* kAuthorizationRightExecute = "system.privilege.admin";
inline constexpr const char* kAuthorizationEnvironmentPrompt = "prompt";

// One right or environment item; `value` holds `valueLength` bytes.
struct AuthorizationItem {
    const char* name;
    std::size_t valueLength;
    void* value;
    std::uint32_t flags;
};

struct AuthorizationItemSet {
    std::uint32_t count;
    AuthorizationItem* items;
};

using AuthorizationRights = AuthorizationItemSet;
using AuthorizationEnvironment = AuthorizationItemSet;

struct AuthorizationOpaqueRef;
using AuthorizationRef = AuthorizationOpaqueRef*;

// Makes a new handle in `*authorization`; with `rights`, first obtains them
// as AuthorizationCopyRights does (and makes no handle when that fails).
// With a null `authorization` only the rights are evaluated.
OSStatus AuthorizationCreate(const AuthorizationRights* rights, const AuthorizationEnvironment* environment,
                             AuthorizationFlags flags, AuthorizationRef* authorization) noexcept;

// Obtains `rights` for `authorization`. Without kAuthorizationFlagExtendRights
// only rights already held succeed. With kAuthorizationFlagPartialRights a
// denied right is left out instead of failing the call. This platform hands
// back no set of granted rights: `authorizedRights` must be null
// (errAuthorizationInvalidPointer otherwise).
OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment, AuthorizationFlags flags,
                                 AuthorizationItemSet** authorizedRights) noexcept;

// Runs `pathToTool` with the administrator right (obtained on the way when
// the handle does not hold it yet). `arguments` ends at its first null slot;
// a null `arguments` is no arguments. `options` must be
// kAuthorizationFlagDefaults. With a non-null `communicationsPipe` the stream
// to the tool is stored there; it is set to null when the call fails.
// A tool that cannot be started (missing, not executable, a folder) gives
// errAuthorizationToolExecuteFailure and leaves no process behind.
OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            std::FILE** communicationsPipe) noexcept;

// Ends the handle; the rights it held are gone.
OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) noexcept;

}  // namespace platform
