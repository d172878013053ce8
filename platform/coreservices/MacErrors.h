#pragma once
// The status types and the general status codes the CoreServices stand-ins
// share.

#include <cstdint>

#define PLATFORM_CORESERVICES_API __attribute__((visibility("default")))

namespace platform {

using OSErr = std::int16_t;
using OSStatus = std::int32_t;

inline constexpr OSErr noErr = 0;
inline constexpr OSErr paramErr = -50;
inline constexpr OSErr memFullErr = -108;
inline constexpr OSErr procNotFound = -600;

}  // namespace platform
