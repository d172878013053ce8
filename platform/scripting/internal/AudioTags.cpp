#include "platform/scripting/internal/AudioTags.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

constexpr std::string_view kHeader = "harmonode-tags 1\n";
constexpr std::string_view kEnd = "end\n";
constexpr std::string_view kRefused = "refused";

struct TextField {
    std::string_view name;
    std::optional<std::string> AudioTags::*member;
};
constexpr std::array<TextField, 7> kTextFields = {{
    {"title", &AudioTags::title},
    {"artist", &AudioTags::artist},
    {"albumArtist", &AudioTags::albumArtist},
    {"composer", &AudioTags::composer},
    {"album", &AudioTags::album},
    {"genre", &AudioTags::genre},
    {"comments", &AudioTags::comments},
}};

struct IntField {
    std::string_view name;
    int AudioTags::*member;
    TagNumber range;
};
constexpr std::array<IntField, 7> kIntFields = {{
    {"year", &AudioTags::year, TagNumber::year},
    {"trackNumber", &AudioTags::trackNumber, TagNumber::trackOrDisc},
    {"trackCount", &AudioTags::trackCount, TagNumber::trackOrDisc},
    {"discNumber", &AudioTags::discNumber, TagNumber::trackOrDisc},
    {"discCount", &AudioTags::discCount, TagNumber::trackOrDisc},
    {"bitRate", &AudioTags::bitRate, TagNumber::bitRate},
    {"sampleRate", &AudioTags::sampleRate, TagNumber::sampleRate},
}};
constexpr std::string_view kTotalTime = "totalTime";
constexpr std::string_view kKind = "kind";

void record(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += ' ';
    out += std::to_string(value.size());
    out += '\n';
    out += value;
    out += '\n';
}

// A text as the tags keep it: valid UTF-8 and within the bound, else none.
std::optional<std::string> boundedText(std::string_view value) {
    if (value.empty() || !isValidUTF8(value)) return std::nullopt;
    return std::string(cutOnCharacter(value, kTagTextLimit));
}

std::optional<std::int64_t> decimal(std::string_view text) {
    std::int64_t n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return n;
}

Error unreadable() { return Error{"the tag reader's answer cannot be read"}; }

}  // namespace

bool tagNumberInRange(TagNumber field, std::int64_t value) noexcept {
    if (value < 1) return false;
    switch (field) {
        case TagNumber::year:
            return value <= 9999;
        case TagNumber::totalTime:
            return true;
        case TagNumber::trackOrDisc:
        case TagNumber::bitRate:
        case TagNumber::sampleRate:
            break;
    }
    return value <= std::numeric_limits<std::int32_t>::max();
}

std::string_view cutOnCharacter(std::string_view text, std::size_t limit) noexcept {
    if (text.size() <= limit) return text;
    std::size_t end = limit;
    // Back to the first byte of the character the bound falls in.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

std::string encodeAudioTags(const AudioTags& tags) {
    std::string out(kHeader);
    record(out, kKind, cutOnCharacter(tags.kind, kTagTextLimit));
    for (const TextField& field : kTextFields) {
        if (const auto& value = tags.*field.member) record(out, field.name, cutOnCharacter(*value, kTagTextLimit));
    }
    for (const IntField& field : kIntFields) {
        if (tagNumberInRange(field.range, tags.*field.member)) {
            record(out, field.name, std::to_string(tags.*field.member));
        }
    }
    if (tagNumberInRange(TagNumber::totalTime, tags.totalTime)) record(out, kTotalTime, std::to_string(tags.totalTime));
    out += kEnd;
    return out;
}

std::string encodeRefusal(std::string_view reason) {
    std::string out(kHeader);
    record(out, kRefused, cutOnCharacter(decodeUTF8Lossy(reason), kTagTextLimit));
    out += kEnd;
    return out;
}

Result<AudioTags> decodeAudioTags(std::string_view text) {
    if (!text.starts_with(kHeader)) return unreadable();
    text.remove_prefix(kHeader.size());
    AudioTags tags;
    bool refused = false;
    std::string reason;
    while (text != kEnd) {
        const std::size_t blank = text.find(' ');
        const std::size_t lineEnd = text.find('\n');
        if (blank == text.npos || lineEnd == text.npos || blank > lineEnd) return unreadable();
        const std::string_view name = text.substr(0, blank);
        const std::optional<std::int64_t> length = decimal(text.substr(blank + 1, lineEnd - blank - 1));
        text.remove_prefix(lineEnd + 1);
        if (!length || *length < 0 || static_cast<std::uint64_t>(*length) >= text.size() ||
            text[static_cast<std::size_t>(*length)] != '\n') {
            return unreadable();
        }
        const std::string_view value = text.substr(0, static_cast<std::size_t>(*length));
        text.remove_prefix(value.size() + 1);

        if (name == kRefused) {
            refused = true;
            reason = decodeUTF8Lossy(cutOnCharacter(value, kTagTextLimit));
        } else if (name == kKind) {
            tags.kind = boundedText(value).value_or(std::string());
        } else if (name == kTotalTime) {
            const auto n = decimal(value);
            tags.totalTime = n && tagNumberInRange(TagNumber::totalTime, *n) ? *n : 0;
        } else if (const auto textField = std::find_if(kTextFields.begin(), kTextFields.end(),
                                                       [&](const TextField& f) { return f.name == name; });
                   textField != kTextFields.end()) {
            tags.*textField->member = boundedText(value);
        } else if (const auto intField = std::find_if(kIntFields.begin(), kIntFields.end(),
                                                      [&](const IntField& f) { return f.name == name; });
                   intField != kIntFields.end()) {
            const auto n = decimal(value);
            tags.*intField->member = n && tagNumberInRange(intField->range, *n) ? static_cast<int>(*n) : 0;
        } else {
            return unreadable();
        }
    }
    if (refused) return Error{reason.empty() ? "the tag reader refused it" : reason};
    return tags;
}

}  // namespace platform
