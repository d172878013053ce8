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
    // The two digits of every byte value, so a byte takes one look-up.
    static constexpr auto kPairs = [] {
        constexpr char kDigits[] = "0123456789ABCDEF";
        std::array<char, 512> pairs{};
        for (std::size_t b = 0; b < 256; ++b) {
            pairs[2 * b] = kDigits[b >> 4];
            pairs[2 * b + 1] = kDigits[b & 0xF];
        }
        return pairs;
    }();
    PidText text;
    for (int i = 7; i >= 0; --i, persistentID >>= 8) {
        std::memcpy(text.chars + 2 * i, &kPairs[2 * (persistentID & 0xFF)], 2);
    }
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
