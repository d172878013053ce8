#include "export/Utils.h"

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "export/Assert.h"
#include "export/ITunesToJSON.h"
#include "platform/foundation/File.h"

namespace harmonode {

PidText pidText(std::uint64_t persistentID) noexcept {
    // Each half's eight nibbles spread to a byte each, most significant
    // first in memory, then made digits all at once.
    const auto digits = [](std::uint64_t half) {
        std::uint64_t x = half & 0xFFFFFFFFu;
        x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
        x = (x | (x << 8)) & 0x00FF00FF00FF00FFull;
        x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0Full;
        // Nibbles from 10 up take the seven letters' offset past '9'.
        const std::uint64_t letters = ((x + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
        x += 0x3030303030303030ull + letters * 7;
        // The nibbles stand least significant first: the text wants them the
        // other way round.
        return __builtin_bswap64(x);
    };
    PidText text;
    const std::uint64_t high = digits(persistentID >> 32), low = digits(persistentID);
    std::memcpy(text.chars, &high, sizeof high);
    std::memcpy(text.chars + 8, &low, sizeof low);
    return text;
}

std::string pidToString(std::uint64_t persistentID) { return std::string(pidText(persistentID).view()); }

std::int64_t millisecondsSince1970(const platform::Date& date) noexcept {
    const double milliseconds = std::round(date.timeIntervalSince1970 * 1000.0);
    if (std::isnan(milliseconds)) return 0;
    // 2^63 is exactly representable; every double below it converts safely.
    constexpr double kLimit = 9223372036854775808.0;
    if (milliseconds >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (milliseconds < -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(milliseconds);
}

void jsonToString(const LibraryDocument& json, const JsonSink& sink) { json.write(JsonLayout::pretty, sink); }

void jsonToString(const LibraryDocument& json, const RoomSink& sink) { json.write(JsonLayout::pretty, sink); }

platform::Status writeJSON(const platform::URL& destURL, const LibraryDocument& json, const RoomSink& echo) {
    std::optional<platform::Error> failure;
    std::optional<platform::AtomicFileWriter> file;
    if (!destURL.isFileURL()) {
        failure = platform::Error{"cannot write to \"" + destURL.absoluteString() + "\": not a file URL"};
    } else if (auto started = platform::AtomicFileWriter::create(destURL.path()); !started) {
        failure = started.error();
    } else {
        file.emplace(std::move(started.value()));
    }
    if (failure && !echo) return *failure;
    jsonToString(json, [&](std::string& room, std::size_t length) {
        if (file) file->write(std::string_view(room.data(), length));
        if (echo) echo(room, length);
    });
    if (failure) return *failure;
    return file->commit();
}

platform::Status writeJSON(const platform::URL& destURL, const LibraryDocument& json, const JsonSink& echo) {
    if (!echo) return writeJSON(destURL, json, RoomSink());
    return writeJSON(destURL, json, RoomSink([&](std::string& room, std::size_t length) {
                         echo(std::string_view(room.data(), length));
                     }));
}

void runTests() {
    const std::string expected = "12ACE9259A434B5E";
    const std::string first = pidToString(1345706736388098910ULL);
    const std::string second = pidToString(1345706736388098910ULL);
    HARMONODE_ASSERT(expected == first);
    HARMONODE_ASSERT(first == second);
}

}  // namespace harmonode
