#include "platform/itlibrary/internal/XmlByteCleaner.h"

#include <array>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/internal/XmlMarkup.h"

namespace platform {
namespace {

// Bytes that pass straight through while nothing is pending: allowed ASCII
// other than "&", which may start a reference, and "!", which after "<" may
// open a comment or CDATA section.
constexpr std::array<bool, 256> kPlain = [] {
    std::array<bool, 256> table{};
    table['\t'] = table['\n'] = table['\r'] = true;
    for (int c = 0x20; c < 0x80; ++c) table[c] = true;
    table['&'] = table['!'] = false;
    return table;
}();

constexpr std::string_view kCDataAfterBang = kCDataOpen.substr(2);  // what follows "<!"

// The end of the run of plain bytes (see kPlain) that starts at `p`.
const unsigned char* plainRunEnd(const unsigned char* p, const unsigned char* end) noexcept {
#ifdef __SSE2__
    // Sixteen bytes at a time: a byte below 0x20 or from 0x80 up is below
    // 0x20 as a signed byte; of those, tab, line feed and carriage return
    // are plain.
    const __m128i space = _mm_set1_epi8(0x20);
    const __m128i tab = _mm_set1_epi8('\t'), lineFeed = _mm_set1_epi8('\n'), carriageReturn = _mm_set1_epi8('\r');
    const __m128i ampersand = _mm_set1_epi8('&'), bang = _mm_set1_epi8('!');
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i blank = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, tab), _mm_cmpeq_epi8(bytes, lineFeed)),
                                           _mm_cmpeq_epi8(bytes, carriageReturn));
        const __m128i special =
            _mm_or_si128(_mm_andnot_si128(blank, _mm_cmplt_epi8(bytes, space)),
                         _mm_or_si128(_mm_cmpeq_epi8(bytes, ampersand), _mm_cmpeq_epi8(bytes, bang)));
        if (const int mask = _mm_movemask_epi8(special); mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    while (p < end && kPlain[*p]) ++p;
    return p;
}

char* replacement(char* out) noexcept {
    *out++ = static_cast<char>(0xEF);
    *out++ = static_cast<char>(0xBF);
    *out++ = static_cast<char>(0xBD);
    return out;
}

}  // namespace

std::size_t XmlByteCleaner::feed(std::string_view input, char* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(input.data());
    const auto* const end = p + input.size();
    char* o = out;
    while (p < end) {
        if (plain()) {
            const unsigned char* run = p;
            p = plainRunEnd(p, end);
            if (p != run) {
                std::memcpy(o, run, static_cast<std::size_t>(p - run));
                o += p - run;
                last_ = p[-1];
            }
            if (p == end) break;
        }
        o = step(*p++, o);
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t XmlByteCleaner::finish(char* out) noexcept {
    char* o = out;
    if (utf8Need_ != 0) {
        o = replacement(o);
        utf8Need_ = utf8Len_ = 0;
    }
    o = flushReference(o);
    o = flushHighSurrogate(o);
    mode_ = Mode::Text;
    match_ = 0;
    return static_cast<std::size_t>(o - out);
}

std::string XmlByteCleaner::clean(std::string_view input) {
    XmlByteCleaner cleaner;
    std::string out(maxOutput(input.size()), '\0');
    std::size_t n = cleaner.feed(input, out.data());
    n += cleaner.finish(out.data() + n);
    out.resize(n);
    return out;
}

char* XmlByteCleaner::step(unsigned char c, char* out) noexcept {
    out = stepByte(c, out);
    last_ = c;
    return out;
}

char* XmlByteCleaner::stepByte(unsigned char c, char* out) noexcept {
    if (utf8Need_ != 0) {
        if (c >= utf8Low_ && c <= utf8High_) {
            utf8Bytes_[utf8Len_++] = c;
            utf8Low_ = 0x80;
            utf8High_ = 0xBF;
            if (--utf8Need_ == 0) {
                // EF BF BE and EF BF BF are U+FFFE and U+FFFF, which XML forbids.
                if (utf8Len_ == 3 && utf8Bytes_[0] == 0xEF && utf8Bytes_[1] == 0xBF && utf8Bytes_[2] >= 0xBE) {
                    out = replacement(out);
                } else {
                    std::memcpy(out, utf8Bytes_, utf8Len_);
                    out += utf8Len_;
                }
                utf8Len_ = 0;
            }
            return out;
        }
        // The sequence broke off: its bytes so far are one maximal ill-formed
        // subpart, and `c` starts afresh.
        out = replacement(out);
        utf8Len_ = utf8Need_ = 0;
    }
    if (c >= 0x80) return stepUTF8(c, out);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return replacement(endRun(out));
    if (ref_ != Ref::None) {
        bool consumed = false;
        out = stepReference(c, out, consumed);
        if (consumed) return out;
    }
    return stepMarkup(c, out);
}

char* XmlByteCleaner::endRun(char* out) noexcept {
    out = flushReference(out);
    out = flushHighSurrogate(out);
    if (mode_ == Mode::Comment || mode_ == Mode::CData) {
        match_ = 0;
    } else {
        mode_ = Mode::Text;
    }
    return out;
}

char* XmlByteCleaner::stepUTF8(unsigned char c, char* out) noexcept {
    out = endRun(out);
    const UTF8Lead lead = utf8Lead(c);
    // A stray continuation byte or a lead byte UTF-8 never uses.
    if (!lead.valid || lead.following == 0) return replacement(out);
    utf8Bytes_[0] = c;
    utf8Len_ = 1;
    utf8Need_ = lead.following;
    utf8Low_ = lead.low;
    utf8High_ = lead.high;
    return out;
}

char* XmlByteCleaner::stepReference(unsigned char c, char* out, bool& consumed) noexcept {
    consumed = false;
    // A reference of any length is read; only its first bytes are kept as
    // written, which is all a well-formed one needs.
    const auto keep = [&] {
        if (refLen_ < kMaxReference) {
            refText_[refLen_++] = static_cast<char>(c);
        } else {
            refOverlong_ = true;
        }
        consumed = true;
        return true;
    };
    switch (ref_) {
        case Ref::None:
            return out;
        case Ref::Amp:
            if (c == '#' && keep()) {
                ref_ = Ref::Hash;
                return out;
            }
            break;
        case Ref::Hash:
            if (c == 'x' && keep()) {
                ref_ = Ref::HexX;
                return out;
            }
            if (c >= '0' && c <= '9' && keep()) {
                ref_ = Ref::Dec;
                refValue_ = c - '0';
                return out;
            }
            break;
        case Ref::HexX:
        case Ref::Hex:
            if (const int d = hexDigitValue(static_cast<char>(c)); d >= 0 && keep()) {
                ref_ = Ref::Hex;
                if (refValue_ <= 0x10FFFF) refValue_ = refValue_ * 16 + static_cast<std::uint32_t>(d);
                if (refValue_ > 0x10FFFF) refValue_ = 0x110000;
                return out;
            }
            if (c == ';' && ref_ == Ref::Hex && keep()) return completeReference(out);
            break;
        case Ref::Dec:
            if (c >= '0' && c <= '9' && keep()) {
                if (refValue_ <= 0x10FFFF) refValue_ = refValue_ * 10 + (c - '0');
                if (refValue_ > 0x10FFFF) refValue_ = 0x110000;
                return out;
            }
            if (c == ';' && keep()) return completeReference(out);
            break;
    }
    // Not a numeric character reference after all (an entity reference such
    // as "&amp;", or something the parser will judge): pass it as written.
    consumed = false;
    return flushReference(out);
}

char* XmlByteCleaner::completeReference(char* out) noexcept {
    const std::uint32_t v = refValue_;
    const bool overlong = refOverlong_;
    ref_ = Ref::None;
    refValue_ = 0;
    refOverlong_ = false;
    if (highSurrogate_ != 0) {
        if (v >= 0xDC00 && v <= 0xDFFF) {
            const std::uint32_t cp = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (v - 0xDC00);
            highSurrogate_ = 0;
            refLen_ = 0;
            *out++ = static_cast<char>(0xF0 | (cp >> 18));
            *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            *out++ = static_cast<char>(0x80 | (cp & 0x3F));
            return out;
        }
        out = flushHighSurrogate(out);
    }
    if (v >= 0xD800 && v <= 0xDBFF) {
        highSurrogate_ = v;
    } else if (isXmlChar(v) && !overlong) {
        std::memcpy(out, refText_, refLen_);
        out += refLen_;
    } else if (isXmlChar(v)) {
        // Too long to have been kept (leading zeros): its short form.
        static constexpr char kHex[] = "0123456789ABCDEF";
        char digits[8];
        int n = 0;
        for (std::uint32_t rest = v; rest != 0 || n == 0; rest >>= 4) digits[n++] = kHex[rest & 0xF];
        *out++ = '&';
        *out++ = '#';
        *out++ = 'x';
        while (n > 0) *out++ = digits[--n];
        *out++ = ';';
    } else {
        out = replacement(out);
    }
    refLen_ = 0;
    return out;
}

char* XmlByteCleaner::flushReference(char* out) noexcept {
    if (ref_ == Ref::None) return out;
    out = flushHighSurrogate(out);
    std::memcpy(out, refText_, refLen_);
    out += refLen_;
    ref_ = Ref::None;
    refLen_ = 0;
    refValue_ = 0;
    refOverlong_ = false;
    return out;
}

char* XmlByteCleaner::flushHighSurrogate(char* out) noexcept {
    if (highSurrogate_ == 0) return out;
    highSurrogate_ = 0;
    return replacement(out);
}

char* XmlByteCleaner::stepMarkup(unsigned char c, char* out) noexcept {
    switch (mode_) {
        case Mode::Text:
            break;
        case Mode::LtBang:
            if (c == '-') {
                mode_ = Mode::LtBangDash;
            } else if (c == kCDataAfterBang[0]) {
                mode_ = Mode::CDataOpen;
                match_ = 1;
            } else {
                mode_ = Mode::Text;
                break;
            }
            *out++ = static_cast<char>(c);
            return out;
        case Mode::LtBangDash:
            if (c == '-') {
                mode_ = Mode::Comment;
                match_ = 0;
                *out++ = static_cast<char>(c);
                return out;
            }
            mode_ = Mode::Text;
            break;
        case Mode::CDataOpen:
            if (c == static_cast<unsigned char>(kCDataAfterBang[match_])) {
                if (++match_ == kCDataAfterBang.size()) {
                    mode_ = Mode::CData;
                    match_ = 0;
                }
                *out++ = static_cast<char>(c);
                return out;
            }
            mode_ = Mode::Text;
            match_ = 0;
            break;
        case Mode::Comment:
        case Mode::CData: {
            const char closer = mode_ == Mode::Comment ? kCommentClose[0] : kCDataClose[0];
            if (c == closer) {
                if (match_ < 2) ++match_;
            } else if (c == '>' && match_ == 2) {
                mode_ = Mode::Text;
                match_ = 0;
            } else {
                match_ = 0;
            }
            *out++ = static_cast<char>(c);
            return out;
        }
    }
    // Ordinary text.
    if (c == '&') {
        ref_ = Ref::Amp;
        refText_[0] = '&';
        refLen_ = 1;
        refValue_ = 0;
        return out;
    }
    out = flushHighSurrogate(out);
    if (c == '!' && last_ == '<') mode_ = Mode::LtBang;
    *out++ = static_cast<char>(c);
    return out;
}

}  // namespace platform
