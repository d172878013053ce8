#pragma once
// A keyed 64-bit hash of 64-bit integers (SipHash-2-4). The process-wide
// key is drawn at random on first use, so hash values are comparable only
// within one process. Thread-safe.
//
// Tests that compare whole documents byte for byte fix the key instead
// (useProcessKey), before the first hash of the process.

#include <array>
#include <cstdint>

namespace harmonode {

using SipKey = std::array<std::uint64_t, 2>;

// SipHash-2-4 of the eight little-endian bytes of `value` under `key`.
std::uint64_t sipHash24(const SipKey& key, std::uint64_t value) noexcept;

// The hash of `value` under the process's random key, as a signed value.
std::int64_t keyedHash(std::uint64_t value);

// Makes `key` the process's key in place of a random one. Only before the
// first keyedHash of the process; later calls change nothing.
void useProcessKey(const SipKey& key) noexcept;

}  // namespace harmonode
