#pragma once
// Byte-level repair of XML text before it reaches a strict parser.
//
// Library exports found in the wild hold bytes that XML 1.0 forbids: broken
// UTF-8, raw control characters, and character references to lone UTF-16
// surrogates or to characters XML does not allow. The cleaner turns each of
// them into U+FFFD (a high and a low surrogate reference written next to each
// other become the one character they encode), and passes everything else
// through byte for byte. It works on a stream: input may be split anywhere,
// and what is pending at the end of one piece is finished with the next.
//
// Character references are left alone inside comments and CDATA sections,
// where they are plain text. One cleaner serves one document; not
// thread-safe.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class XmlByteCleaner {
public:
    // The most bytes that feed() of `inputSize` bytes followed by finish()
    // can write.
    static constexpr std::size_t maxOutput(std::size_t inputSize) noexcept {
        return 3 * inputSize + 3 * kMaxReference + 16;
    }

    // Cleans `input` into `out`, which has room for maxOutput(input.size())
    // bytes. Gives the number of bytes written.
    std::size_t feed(std::string_view input, char* out) noexcept;

    // Ends the stream: writes what is still pending (an unfinished UTF-8
    // sequence becomes U+FFFD, an unfinished reference is passed as it
    // stood). Needs room for maxOutput(0) bytes.
    std::size_t finish(char* out) noexcept;

    // Whether a fresh cleaner fed the rest of the stream would clean it as
    // this one goes on to: nothing is pending, and the byte before is no
    // "<" (after which "!" may open a comment or CDATA section).
    bool freshFromHere() const noexcept { return plain() && last_ != '<'; }

    // Convenience for small texts: the whole of `input`, cleaned.
    static std::string clean(std::string_view input);

    // A numeric reference longer than this (it can only be padded with
    // zeros) is read all the same and written in its short form; one that
    // is not finished (no ";") is passed on cut to this length, for the
    // parser to refuse.
    static constexpr std::size_t kMaxReference = 32;

private:
    enum class Mode : std::uint8_t {
        Text,        // ordinary markup and character data
        LtBang,      // after "<!"
        LtBangDash,  // after "<!-"
        CDataOpen,   // inside "<![CDATA[", `match_` bytes of it seen
        Comment,     // inside a comment; `match_` counts trailing "-"
        CData,       // inside a CDATA section; `match_` counts trailing "]"
    };
    enum class Ref : std::uint8_t { None, Amp, Hash, HexX, Hex, Dec };

    char* step(unsigned char c, char* out) noexcept;
    char* stepByte(unsigned char c, char* out) noexcept;
    char* stepUTF8(unsigned char c, char* out) noexcept;
    // Ends a pending reference or surrogate and any markup in progress
    // before a byte that belongs to text (a replaced or non-ASCII byte).
    char* endRun(char* out) noexcept;
    char* stepReference(unsigned char c, char* out, bool& consumed) noexcept;
    char* stepMarkup(unsigned char c, char* out) noexcept;
    char* completeReference(char* out) noexcept;
    char* flushReference(char* out) noexcept;
    char* flushHighSurrogate(char* out) noexcept;
    bool plain() const noexcept {
        return mode_ == Mode::Text && ref_ == Ref::None && utf8Need_ == 0 && highSurrogate_ == 0;
    }

    Mode mode_ = Mode::Text;
    std::uint8_t match_ = 0;
    unsigned char last_ = 0;  // the byte before the current one

    // An unfinished UTF-8 sequence: its bytes so far, how many more it
    // needs, and the range the next byte must fall in.
    unsigned char utf8Bytes_[4] = {};
    std::uint8_t utf8Len_ = 0;
    std::uint8_t utf8Need_ = 0;
    unsigned char utf8Low_ = 0x80, utf8High_ = 0xBF;

    // An unfinished character reference, kept as written.
    Ref ref_ = Ref::None;
    char refText_[kMaxReference] = {};
    std::uint8_t refLen_ = 0;
    std::uint32_t refValue_ = 0;
    bool refOverlong_ = false;  // more of it was read than refText_ holds

    // A high-surrogate reference waiting for its low half (0: none).
    std::uint32_t highSurrogate_ = 0;
};

}  // namespace platform
