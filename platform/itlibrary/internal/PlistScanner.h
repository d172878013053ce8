#pragma once
// A scanner of the XML that library exports are written in: the reader's
// fast way through a file, in place of the XML parser.
//
// It knows the property-list elements and their text (with the character
// references and the five entity references XML defines, CDATA sections,
// line ends read as XML reads them), an XML declaration and a document type
// naming an external DTD, comments and processing instructions wherever XML
// allows them, and white space between. A reference to an entity that the
// external DTD (never read) may declare is handed on as written, as the
// parser hands it on. Anything else (attributes but the root's version,
// other elements, an internal DTD subset, a reference to an entity no DTD
// can declare, anything XML forbids, a document that does not end) makes it
// give up, and the reader has the XML parser read the file instead; so do a
// few things XML allows that the parser reads in ways of its own (a carriage
// return in a CDATA section, names beyond ASCII, instruction targets that
// begin with "xml"). So what the scanner reads, the parser reads alike, and
// the parser remains the judge of every other file and the author of every
// error message.
//
// The scanner reads cleaned text (XmlByteCleaner.h): valid UTF-8 holding
// only characters XML allows, never a NUL. It hands its handler the events
// of PlistEvents.h, as the parser does; the text of characters() stays in
// the scanner's buffer until the next space(). Input may be cut anywhere:
// each piece is scanned as far as it goes and the rest kept for the next.
// A scan may also cover one part of a document: it stops wherever its input
// does, and a scan of the next part starts inside the elements the first
// stood in (see standsInside, resumeInside). One scanner per document or
// part; not thread-safe. `Handler` is a PlistHandler, or any class with its
// member functions, called directly.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/internal/PlistEvents.h"

namespace platform {

template <class Handler>
class PlistScanner {
public:
    explicit PlistScanner(Handler& handler) : handler_(handler) {}
    PlistScanner(const PlistScanner&) = delete;
    PlistScanner& operator=(const PlistScanner&) = delete;

    // Room for `size` more bytes of text, to be written there and then
    // scanned with scan(). Throws std::bad_alloc.
    char* space(std::size_t size);

    // Scans the `size` bytes written into space(); `last` ends the text.
    // False once the scanner has given up.
    bool scan(std::size_t size, bool last);

    // Whether the scan stands right inside the elements `open` (the root
    // first) with nothing of the text pending: where a scan of the rest of
    // the document that resumeInside(open) starts would go on alike.
    bool standsInside(std::span<const PlistElement> open) const noexcept;

    // What the scan read of the document's prolog that tells how it reads
    // the content; none until the content begins.
    struct Prolog {
        bool sawDoctype = false, externalDTD = false, standalone = false;
    };
    std::optional<Prolog> prolog() const noexcept {
        if (phase_ != Phase::Content && phase_ != Phase::Epilog) return std::nullopt;
        return Prolog{sawDoctype_, externalDTD_, standalone_};
    }

    // Makes this fresh scanner one of a later part of a document whose
    // prolog was `prolog`: it starts inside the elements `open` (the root
    // first), between their content.
    void resumeInside(std::span<const PlistElement> open, const Prolog& prolog) noexcept;

private:
    enum class State : std::uint8_t { Reading, Done, GaveUp };
    enum class Phase : std::uint8_t { Start, Prolog, Content, Epilog };
    enum class Step : std::uint8_t { Ok, More, GiveUp };
    // Markup whose body the scan is inside, which may reach over pieces.
    enum class Inside : std::uint8_t { Nothing, Comment, Instruction, CData };

    // Markup longer than this is not what an export writes.
    static constexpr std::size_t kMostMarkup = 4096;
    static constexpr std::size_t kMostReference = 40;
    static constexpr int kMostDepth = 128;
    // Bytes past the text that may be read: a NUL, then what a sixteen-byte
    // load reaches.
    static constexpr std::size_t kPadding = 16;

    // A tag of up to sixteen bytes as two words to compare at once (the
    // padding past the text makes the loads safe; the NUL that ends the
    // text matches no tag).
    struct TagText {
        std::uint64_t word[2] = {}, mask[2] = {};
        std::uint8_t length = 0;
    };
    static constexpr TagText tagText(std::string_view text) noexcept {
        TagText tag;
        tag.length = static_cast<std::uint8_t>(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned shift = std::endian::native == std::endian::little ? 8 * (i % 8) : 8 * (7 - i % 8);
            tag.word[i / 8] |= std::uint64_t{static_cast<unsigned char>(text[i])} << shift;
            tag.mask[i / 8] |= std::uint64_t{0xFF} << shift;
        }
        return tag;
    }
    static bool at(const char* p, const TagText& tag) noexcept {
        std::uint64_t word;
        std::memcpy(&word, p, sizeof word);
        if ((word & tag.mask[0]) != tag.word[0]) return false;
        if (tag.length <= 8) return true;
        std::memcpy(&word, p + 8, sizeof word);
        return (word & tag.mask[1]) == tag.word[1];
    }
    // Each element's start, empty-element and end tag as exports write them.
    struct Tags {
        TagText start, empty, end;
    };
    static constexpr std::array<Tags, kPlistElementNames.size()> kTags = [] {
        std::array<Tags, kPlistElementNames.size()> tags{};
        for (std::size_t element = 1; element < tags.size(); ++element) {
            const std::string_view name = kPlistElementNames[element];
            char text[16] = {};
            const auto make = [&](std::string_view before, std::string_view after) {
                std::size_t n = 0;
                for (const char c : before) text[n++] = c;
                for (const char c : name) text[n++] = c;
                for (const char c : after) text[n++] = c;
                return tagText(std::string_view(text, n));
            };
            tags[element] = {make("<", ">"), make("<", "/>"), make("</", ">")};
        }
        return tags;
    }();
    static const Tags& tagsOf(PlistElement element) noexcept { return kTags[static_cast<std::size_t>(element)]; }

    // The end of the run of bytes from `p` that stand for themselves in
    // character data: the first "<", "&", CR, "]" or NUL.
    static const char* plainRunEnd(const char* p) noexcept {
#ifdef __SSE2__
        const __m128i lt = _mm_set1_epi8('<'), amp = _mm_set1_epi8('&'), cr = _mm_set1_epi8('\r'),
                      bracket = _mm_set1_epi8(']'), nul = _mm_setzero_si128();
        for (;;) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i special = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(bytes, lt), _mm_cmpeq_epi8(bytes, amp)),
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, bracket)),
                             _mm_cmpeq_epi8(bytes, nul)));
            if (const int mask = _mm_movemask_epi8(special); mask != 0) {
                return p + __builtin_ctz(static_cast<unsigned>(mask));
            }
            p += 16;
        }
#else
        while (*p != '<' && *p != '&' && *p != '\r' && *p != ']' && *p != '\0') ++p;
        return p;
#endif
    }
    static const char* skipBlanks(const char* p) noexcept {
        while (isXmlBlank(*p)) ++p;
        return p;
    }
    static const char* skipName(const char* p) noexcept {
        while (isXmlNameChar(*p)) ++p;
        return p;
    }

    Step run(const char*& p, bool last);
    Step declaration(const char*& p);
    Step doctype(const char*& p);
    Step markup(const char*& p);
    Step body(const char*& p);
    Step tag(const char*& p);
    Step attributes(const char*& p, const char* end);
    Step text(const char*& p, bool last);
    Step reference(const char*& p, bool last, bool wanted);
    bool knownTag(const char*& p, PlistElement element);
    void open(PlistElement element);
    void close();
    // The end of the text held: past it lies a NUL.
    const char* end() const noexcept { return buffer_.get() + end_; }
    // Whether markup that starts at `from` and reaches the end of the text
    // may still be completed by more text.
    bool mayGrow(const char* from) const noexcept { return static_cast<std::size_t>(end() - from) < kMostMarkup; }

    Handler& handler_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0, start_ = 0, end_ = 0;
    Phase phase_ = Phase::Start;
    bool sawDoctype_ = false;
    // Whether the document type names an external DTD, and the declaration
    // does not call the document standalone: then a reference to an entity
    // that no DTD read declares stands as written.
    bool externalDTD_ = false, standalone_ = false;
    Inside inside_ = Inside::Nothing;
    State state_ = State::Reading;
    int depth_ = 0;
    PlistElement open_[kMostDepth] = {};
};

template <class Handler>
char* PlistScanner<Handler>::space(std::size_t size) {
    handler_.holdText();
    if (capacity_ - end_ < size + kPadding) {
        const std::size_t pending = end_ - start_;
        if (capacity_ - pending >= size + kPadding && start_ > 0) {
            std::memmove(buffer_.get(), buffer_.get() + start_, pending);
        } else {
            std::size_t capacity = capacity_ == 0 ? std::size_t{1} << 18 : capacity_ * 2;
            while (capacity < pending + size + kPadding) capacity *= 2;
            auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
            if (pending > 0) std::memcpy(bigger.get(), buffer_.get() + start_, pending);
            buffer_ = std::move(bigger);
            capacity_ = capacity;
        }
        start_ = 0;
        end_ = pending;
    }
    return buffer_.get() + end_;
}

template <class Handler>
bool PlistScanner<Handler>::scan(std::size_t size, bool last) {
    if (state_ != State::Reading) return state_ != State::GaveUp;
    if (buffer_ == nullptr) space(0);
    end_ += size;
    std::memset(buffer_.get() + end_, 0, kPadding);
    const char* p = buffer_.get() + start_;
    const Step step = run(p, last);
    start_ = static_cast<std::size_t>(p - buffer_.get());
    if (step == Step::GiveUp || handler_.stopped()) {
        state_ = State::GaveUp;
    } else if (last) {
        state_ = phase_ == Phase::Epilog && p == end() ? State::Done : State::GaveUp;
    }
    return state_ != State::GaveUp;
}

template <class Handler>
bool PlistScanner<Handler>::standsInside(std::span<const PlistElement> open) const noexcept {
    if (state_ != State::Reading || phase_ != Phase::Content || inside_ != Inside::Nothing || start_ != end_ ||
        static_cast<std::size_t>(depth_) != open.size()) {
        return false;
    }
    for (std::size_t i = 0; i < open.size(); ++i) {
        if (open_[i] != open[i]) return false;
    }
    return true;
}

template <class Handler>
void PlistScanner<Handler>::resumeInside(std::span<const PlistElement> open, const Prolog& prolog) noexcept {
    phase_ = Phase::Content;
    sawDoctype_ = prolog.sawDoctype;
    externalDTD_ = prolog.externalDTD;
    standalone_ = prolog.standalone;
    depth_ = static_cast<int>(open.size());
    for (std::size_t i = 0; i < open.size(); ++i) open_[i] = open[i];
}

template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::run(const char*& p, bool last) {
    for (;;) {
        if (p == end()) return Step::More;
        Step step = Step::Ok;
        if (inside_ != Inside::Nothing) {
            // The rest of a comment, instruction or CDATA section that the
            // last piece cut.
            step = body(p);
            if (step == Step::More) return last ? Step::GiveUp : Step::More;
            if (step == Step::GiveUp || handler_.stopped()) return Step::GiveUp;
            continue;
        }
        switch (phase_) {
            case Phase::Start: {
                // An XML declaration, if any, is the very first thing.
                const std::string_view held(p, static_cast<std::size_t>(end() - p));
                if (held.size() < 6 && !last && std::string_view("<?xml").starts_with(held.substr(0, 5))) {
                    return Step::More;
                }
                if (held.starts_with("<?xml") && isXmlBlank(p[5])) {
                    step = declaration(p);
                    if (step != Step::Ok) break;
                }
                phase_ = Phase::Prolog;
                continue;
            }
            case Phase::Prolog:
                p = skipBlanks(p);
                if (p == end()) return Step::More;
                if (*p != '<') return Step::GiveUp;
                if (p[1] == '!' && p[2] != '-') {
                    step = doctype(p);
                } else if (p[1] == '!' || p[1] == '?') {
                    step = markup(p);
                } else {
                    step = tag(p);  // the root element
                }
                break;
            case Phase::Content:
                do {
                    // Blanks that nobody wants between elements are passed
                    // over as they stand.
                    if (*p != '<' && !handler_.wantsText()) p = skipBlanks(p);
                    step = *p == '<' ? tag(p) : text(p, last);
                } while (step == Step::Ok && phase_ == Phase::Content && !handler_.stopped());
                break;
            case Phase::Epilog:
                p = skipBlanks(p);
                if (p == end()) return Step::More;
                if (*p != '<' || (p[1] != '!' && p[1] != '?' && p[1] != '\0')) return Step::GiveUp;
                step = markup(p);
                break;
        }
        if (step == Step::More) return last ? Step::GiveUp : Step::More;
        if (step == Step::GiveUp || handler_.stopped()) return Step::GiveUp;
    }
}

// <?xml version="1.0" encoding="..." standalone="..."?>, each part in its
// strictest form.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::declaration(const char*& p) {
    const char* q = p + 5;
    const auto pseudoAttribute = [&](std::string_view name, auto&& valid) {
        const char* r = skipBlanks(q);
        if (r == q || std::strncmp(r, name.data(), name.size()) != 0) return false;
        r = skipBlanks(r + name.size());
        if (*r != '=') return false;
        r = skipBlanks(r + 1);
        const char quote = *r;
        if (quote != '"' && quote != '\'') return false;
        const char* close = r + 1;
        while (*close != quote && *close != '\0' && *close != '>') ++close;
        if (*close != quote || !valid(std::string_view(r + 1, static_cast<std::size_t>(close - r - 1)))) return false;
        q = close + 1;
        return true;
    };
    const auto isVersion = [](std::string_view v) { return v == "1.0"; };
    const auto isEncodingName = [](std::string_view v) {
        if (v.empty() || !((v[0] >= 'a' && v[0] <= 'z') || (v[0] >= 'A' && v[0] <= 'Z'))) return false;
        for (const char c : v) {
            if (!isXmlNameChar(c)) return false;
        }
        return true;
    };
    const auto isStandalone = [&](std::string_view v) {
        standalone_ = v == "yes";
        return v == "yes" || v == "no";
    };
    const char* closing = std::strstr(p, "?>");
    if (closing == nullptr) return mayGrow(p) ? Step::More : Step::GiveUp;
    if (!pseudoAttribute("version", isVersion)) return Step::GiveUp;
    pseudoAttribute("encoding", isEncodingName);
    pseudoAttribute("standalone", isStandalone);
    q = skipBlanks(q);
    if (q != closing) return Step::GiveUp;
    p = closing + 2;
    return Step::Ok;
}

// <!DOCTYPE name PUBLIC "pubid" "system"> or <!DOCTYPE name SYSTEM "system">
// or <!DOCTYPE name>, once, with no internal subset.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::doctype(const char*& p) {
    constexpr std::string_view kOpen = "<!DOCTYPE";
    const std::string_view held(p, static_cast<std::size_t>(end() - p));
    if (held.size() < kOpen.size()) return kOpen.starts_with(held) ? Step::More : Step::GiveUp;
    if (!held.starts_with(kOpen) || sawDoctype_) return Step::GiveUp;
    // No literal taken here holds a ">", so the first one ends it.
    if (held.find('>') == std::string_view::npos) return mayGrow(p) ? Step::More : Step::GiveUp;
    if (!isXmlBlank(p[kOpen.size()])) return Step::GiveUp;
    const char* q = skipBlanks(p + kOpen.size());
    const char* nameEnd = skipName(q);
    if (nameEnd == q || !isXmlNameStart(*q)) return Step::GiveUp;
    q = nameEnd;
    // A quoted literal whose characters all pass `allowed`.
    const auto literal = [&](auto&& allowed) {
        const char* r = skipBlanks(q);
        if (r == q || (*r != '"' && *r != '\'')) return false;
        const char quote = *r++;
        while (*r != quote) {
            if (!allowed(*r)) return false;
            ++r;
        }
        q = r + 1;
        return true;
    };
    const auto publicChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
               std::strchr("-()+,./:=?;!*@$_%", c) != nullptr;
    };
    const auto systemChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::strchr("-._~:/?=&+@!$()*,;%", c) != nullptr;
    };
    const char* keyword = skipBlanks(q);
    bool external = false;
    if (keyword != q && std::strncmp(keyword, "PUBLIC", 6) == 0) {
        q = keyword + 6;
        if (!literal(publicChar) || !literal(systemChar)) return Step::GiveUp;
        external = true;
    } else if (keyword != q && std::strncmp(keyword, "SYSTEM", 6) == 0) {
        q = keyword + 6;
        if (!literal(systemChar)) return Step::GiveUp;
        external = true;
    }
    q = skipBlanks(q);
    if (*q != '>') return Step::GiveUp;
    sawDoctype_ = true;
    externalDTD_ = external;
    p = q + 1;
    return Step::Ok;
}

// The opening of a comment, a processing instruction or (in content) a
// CDATA section at `p`, then its body.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::markup(const char*& p) {
    const std::string_view held(p, static_cast<std::size_t>(end() - p));
    const auto opens = [&](std::string_view opener) {
        return held.starts_with(opener) || (held.size() < opener.size() && opener.starts_with(held));
    };
    std::size_t opened = 0;
    if (opens(kCommentOpen)) {
        opened = kCommentOpen.size();
        inside_ = Inside::Comment;
    } else if (phase_ == Phase::Content && opens(kCDataOpen)) {
        opened = kCDataOpen.size();
        inside_ = Inside::CData;
    } else if (held.starts_with(kInstructionOpen)) {
        // Its target: a name, then the end or a blank. The parser reads a
        // target that begins with "xml" in any case in ways of its own.
        const char* target = p + kInstructionOpen.size();
        const char* targetEnd = skipName(target);
        if (*targetEnd == '\0') return mayGrow(p) ? Step::More : Step::GiveUp;
        if (targetEnd == target || !isXmlNameStart(*target)) return Step::GiveUp;
        if (targetEnd - target >= 3 && (target[0] | 0x20) == 'x' && (target[1] | 0x20) == 'm' &&
            (target[2] | 0x20) == 'l') {
            return Step::GiveUp;
        }
        if (*targetEnd == '?' && targetEnd[1] != '>') {
            return targetEnd[1] == '\0' && mayGrow(p) ? Step::More : Step::GiveUp;
        }
        if (!isXmlBlank(*targetEnd) && *targetEnd != '?') return Step::GiveUp;
        opened = static_cast<std::size_t>(targetEnd - p);
        inside_ = Inside::Instruction;
    } else {
        return held.size() < kCDataOpen.size() && (kCommentOpen.starts_with(held) || kInstructionOpen.starts_with(held))
                   ? Step::More
                   : Step::GiveUp;
    }
    if (held.size() < opened) {
        inside_ = Inside::Nothing;
        return Step::More;
    }
    p += opened;
    return body(p);
}

// The body of the comment, instruction or CDATA section the scan is inside,
// up to and with its closer: as far as the text goes, keeping what may
// begin the closer. A comment holds no "--" but the one that closes it; a
// CDATA section's text goes to the handler.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::body(const char*& p) {
    const char mark = inside_ == Inside::Comment ? '-' : inside_ == Inside::Instruction ? '?' : ']';
    const bool wanted = inside_ == Inside::CData && handler_.wantsText();
    for (const char* q = p;;) {
        const char* found = static_cast<const char*>(std::memchr(q, mark, static_cast<std::size_t>(end() - q)));
        const char* stop = found != nullptr ? found : end();
        if (inside_ == Inside::CData && std::memchr(q, '\r', static_cast<std::size_t>(stop - q)) != nullptr) {
            return Step::GiveUp;  // the parser hands on a CDATA section's line ends as they stand
        }
        if (found == nullptr) {
            if (wanted && stop != p) handler_.characters(std::string_view(p, static_cast<std::size_t>(stop - p)));
            p = stop;
            return Step::More;
        }
        // How far the closer goes from `found`: "-->", "?>", "]]>".
        const std::size_t rest = static_cast<std::size_t>(end() - found);
        const bool twice = mark != '?';
        const std::size_t closer = twice ? 3 : 2;
        if (rest < closer) {
            if (wanted && found != p) handler_.characters(std::string_view(p, static_cast<std::size_t>(found - p)));
            p = found;
            return Step::More;
        }
        if (twice && found[1] != mark) {
            q = found + 1;
            continue;
        }
        if (found[twice ? 2 : 1] == '>') {
            if (wanted && found != p) handler_.characters(std::string_view(p, static_cast<std::size_t>(found - p)));
            p = found + closer;
            inside_ = Inside::Nothing;
            return Step::Ok;
        }
        if (mark == '-') return Step::GiveUp;  // "--" within a comment
        q = found + 1;
    }
}

// A start tag, an empty-element tag or an end tag at `p`.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::tag(const char*& p) {
    const auto incomplete = [&](const char* at) { return *at == '\0' && mayGrow(p) ? Step::More : Step::GiveUp; };
    if (p[1] == '/') {
        // Mostly the end tag of the open element, as exports write it.
        if (depth_ > 0) {
            const TagText& end = tagsOf(open_[depth_ - 1]).end;
            if (at(p, end)) {
                p += end.length;
                close();
                return Step::Ok;
            }
        }
        const char* name = p + 2;
        const char* nameEnd = skipName(name);
        const char* q = skipBlanks(nameEnd);
        if (*q != '>') return incomplete(q);
        const PlistElement element = plistElementNamed(std::string_view(name, static_cast<std::size_t>(nameEnd - name)));
        if (depth_ == 0 || element != open_[depth_ - 1]) return Step::GiveUp;
        p = q + 1;
        close();
        return Step::Ok;
    }
    // Mostly a value's or a key's tag as exports write it.
    if (depth_ > 0 && depth_ < kMostDepth) {
        switch (p[1]) {
            case 'k': if (knownTag(p, PlistElement::Key)) return Step::Ok; break;
            case 's': if (knownTag(p, PlistElement::String)) return Step::Ok; break;
            case 'i': if (knownTag(p, PlistElement::Integer)) return Step::Ok; break;
            case 'd':
                if (knownTag(p, PlistElement::Dict) || knownTag(p, PlistElement::Date) ||
                    knownTag(p, PlistElement::Data)) {
                    return Step::Ok;
                }
                break;
            case 't': if (knownTag(p, PlistElement::True)) return Step::Ok; break;
            case 'f': if (knownTag(p, PlistElement::False)) return Step::Ok; break;
            case 'a': if (knownTag(p, PlistElement::Array)) return Step::Ok; break;
            case 'r': if (knownTag(p, PlistElement::Real)) return Step::Ok; break;
            default: break;
        }
    }
    const char* name = p + 1;
    if (*name == '!' || *name == '?') return markup(p);
    if (!isXmlNameStart(*name)) return incomplete(name);
    const char* nameEnd = skipName(name);
    const PlistElement element = plistElementNamed(std::string_view(name, static_cast<std::size_t>(nameEnd - name)));
    const char* q = nameEnd;
    if (*q != '>' && *q != '/') {
        if (!isXmlBlank(*q)) return incomplete(q);
        q = skipBlanks(q);
        if (element == PlistElement::Plist && depth_ == 0) {
            if (const Step step = attributes(q, p); step != Step::Ok) return step;
        }
    }
    bool empty = false;
    if (*q == '/') {
        empty = true;
        ++q;
    }
    if (*q != '>') return incomplete(q);
    if (element == PlistElement::Other || depth_ == kMostDepth) return Step::GiveUp;
    if (depth_ == 0 && (phase_ != Phase::Prolog || element != PlistElement::Plist)) return Step::GiveUp;
    p = q + 1;
    phase_ = Phase::Content;
    open(element);
    if (empty && !handler_.stopped()) close();
    return Step::Ok;
}

// The root's attributes: at most "version", its value plain text.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::attributes(const char*& q, const char* tagStart) {
    constexpr std::string_view kVersion = "version";
    if (*q == '>' || *q == '/') return Step::Ok;
    if (std::strncmp(q, kVersion.data(), kVersion.size()) != 0) {
        return *skipName(q) == '\0' && mayGrow(tagStart) ? Step::More : Step::GiveUp;
    }
    const char* r = skipBlanks(q + kVersion.size());
    if (*r != '=') return *r == '\0' && mayGrow(tagStart) ? Step::More : Step::GiveUp;
    r = skipBlanks(r + 1);
    const char quote = *r;
    if (quote != '"' && quote != '\'') return quote == '\0' && mayGrow(tagStart) ? Step::More : Step::GiveUp;
    ++r;
    while (*r != quote) {
        if (*r == '\0') return mayGrow(tagStart) ? Step::More : Step::GiveUp;
        if (!isXmlNameChar(*r)) return Step::GiveUp;
        ++r;
    }
    q = skipBlanks(r + 1);
    return Step::Ok;
}

// Whether `p` starts `element`'s start or empty-element tag as exports
// write it; if so, takes it, and with it the rest of an element that holds
// text alone where its text is one run and its end tag is as exports write
// it.
template <class Handler>
inline bool PlistScanner<Handler>::knownTag(const char*& p, PlistElement element) {
    const Tags& tags = tagsOf(element);
    const bool leaf = element != PlistElement::Dict && element != PlistElement::Array;
    if (at(p, tags.start)) {
        const char* text = p + tags.start.length;
        if (leaf) {
            const char* end = plainRunEnd(text);
            if (*end == '<' && at(end, tags.end)) {
                p = end + tags.end.length;
                handler_.leaf(element, std::string_view(text, static_cast<std::size_t>(end - text)));
                return true;
            }
        }
        p = text;
        open(element);
        return true;
    }
    if (at(p, tags.empty)) {
        p += tags.empty.length;
        if (leaf) {
            handler_.leaf(element, {});
            return true;
        }
        open(element);
        if (!handler_.stopped()) close();
        return true;
    }
    return false;
}

template <class Handler>
void PlistScanner<Handler>::open(PlistElement element) {
    open_[depth_++] = element;
    handler_.element(element);
}

template <class Handler>
void PlistScanner<Handler>::close() {
    --depth_;
    handler_.elementEnd();
    if (depth_ == 0) phase_ = Phase::Epilog;
}

// Character data up to the next markup.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::text(const char*& p, bool last) {
    const bool wanted = handler_.wantsText();
    for (;;) {
        // The run of bytes that stand for themselves.
        const char* run = p;
        p = plainRunEnd(p);
        if (wanted && p != run) handler_.characters(std::string_view(run, static_cast<std::size_t>(p - run)));
        switch (*p) {
            case '<':
                return Step::Ok;
            case '\0':
                return p == end() ? Step::More : Step::GiveUp;
            case '&':
                if (const Step step = reference(p, last, wanted); step != Step::Ok) return step;
                break;
            case '\r':
                // A line end of either form reads as one line feed.
                if (p + 1 == end() && !last) return Step::More;
                if (wanted) handler_.characters("\n");
                p += p[1] == '\n' ? 2 : 1;
                break;
            default:  // ']', which may not begin "]]>"
                if (end() - p < 3 && !last) return Step::More;
                if (p[1] == ']' && p[2] == '>') return Step::GiveUp;
                if (wanted) handler_.characters("]");
                ++p;
                break;
        }
    }
}

// "&lt;", "&gt;", "&amp;", "&apos;", "&quot;" or a character reference to
// a character XML allows.
template <class Handler>
typename PlistScanner<Handler>::Step PlistScanner<Handler>::reference(const char*& p, bool last, bool wanted) {
    const char* semicolon = p + 1;
    while (*semicolon != ';' && *semicolon != '\0' && semicolon - p < static_cast<std::ptrdiff_t>(kMostReference)) {
        ++semicolon;
    }
    if (*semicolon != ';') return *semicolon == '\0' && semicolon == end() && !last ? Step::More : Step::GiveUp;
    const std::string_view name(p + 1, static_cast<std::size_t>(semicolon - p - 1));
    std::string character;  // short enough never to allocate
    if (const auto predefined = xmlPredefinedEntity(name)) {
        character = *predefined;
    } else if (const auto referenced = xmlCharacterReference(name)) {
        appendUTF8(character, *referenced);
    } else {
        // An entity only an unread DTD may declare stands as written.
        if (!externalDTD_ || standalone_ || name.empty() || !isXmlNameStart(name[0]) ||
            skipName(name.data()) != semicolon) {
            return Step::GiveUp;
        }
        if (wanted) handler_.characters(std::string_view(p, name.size() + 2));
        p = semicolon + 1;
        return Step::Ok;
    }
    if (wanted) handler_.decodedCharacters(character);
    p = semicolon + 1;
    return Step::Ok;
}

}  // namespace platform
