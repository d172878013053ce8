#include "export/KeyedHash.h"

#include <bit>
#include <optional>
#include <random>

namespace harmonode {
namespace {

struct SipState {
    std::uint64_t v0, v1, v2, v3;

    void round() noexcept {
        v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
        v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
        v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
        v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
    }
    void compress(std::uint64_t m) noexcept {
        v3 ^= m;
        round();
        round();
        v0 ^= m;
    }
};

std::optional<SipKey> fixedKey;  // set by useProcessKey

SipKey processKey() {
    if (fixedKey) return *fixedKey;
    std::random_device device;
    const auto draw = [&] { return (static_cast<std::uint64_t>(device()) << 32) | device(); };
    return {draw(), draw()};
}

}  // namespace

std::uint64_t sipHash24(const SipKey& key, std::uint64_t value) noexcept {
    SipState s{key[0] ^ 0x736f6d6570736575ULL, key[1] ^ 0x646f72616e646f6dULL, key[0] ^ 0x6c7967656e657261ULL,
               key[1] ^ 0x7465646279746573ULL};
    s.compress(value);                 // the eight message bytes
    s.compress(std::uint64_t{8} << 56);  // the final block: only the length byte
    s.v2 ^= 0xff;
    for (int i = 0; i < 4; ++i) s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

std::int64_t keyedHash(std::uint64_t value) {
    static const SipKey key = processKey();
    return std::bit_cast<std::int64_t>(sipHash24(key, value));
}

void useProcessKey(const SipKey& key) noexcept { fixedKey = key; }

}  // namespace harmonode
