#include "platform/itlibrary/LibraryOutline.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/Text.h"
#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/internal/ITLibraryReader.h"
#include "platform/itlibrary/internal/PlistValues.h"
#include "platform/itlibrary/internal/TextEncoding.h"
#include "platform/itlibrary/internal/XmlMarkup.h"
#include "platform/itlibrary/internal/XmlProlog.h"

namespace platform {
namespace {

using Element = PlistElement;

struct Token {
    enum class Kind : std::uint8_t { Start, End, EmptyElement, Text, CData, Other, EndOfInput, Malformed };
    Kind kind = Kind::EndOfInput;
    Element element = Element::Other;  // of a start or empty-element tag
    std::string_view text;             // of text as written, of a CDATA section its content
    std::size_t begin = 0, end = 0;
};

// Splits the XML of the root element and what follows into tags, text,
// CDATA sections and the rest (comments, processing instructions), without
// interpreting anything beyond what finding their ends needs.
class Scanner {
public:
    Scanner(std::string_view bytes, std::size_t from) : bytes_(bytes), pos_(from) {}

    Token next() {
        Token token;
        token.begin = pos_;
        if (pos_ >= bytes_.size()) return token;
        if (bytes_[pos_] != '<') {
            pos_ = std::min(bytes_.find('<', pos_), bytes_.size());
            return finish(token, Token::Kind::Text, bytes_.substr(token.begin, pos_ - token.begin));
        }
        const std::string_view rest = bytes_.substr(pos_);
        if (rest.size() > 1 && (rest[1] == '!' || rest[1] == '?')) {
            if (rest.starts_with(kCommentOpen)) return until(token, kCommentOpen.size(), kCommentClose, Token::Kind::Other);
            if (rest.starts_with(kCDataOpen)) return until(token, kCDataOpen.size(), kCDataClose, Token::Kind::CData);
            if (rest.starts_with(kInstructionOpen)) {
                return until(token, kInstructionOpen.size(), kInstructionClose, Token::Kind::Other);
            }
            return finish(token, Token::Kind::Malformed);  // declarations precede the root
        }
        return tag(token, rest.starts_with("</"));
    }

    // Just after the start tag of `element`: when text with no markup in it
    // and then the element's end tag as exports write it ("</key>") follow,
    // passes them and gives the text as written. Otherwise none, and
    // nothing is passed. What the tokens would give for them, at a fraction
    // of the cost.
    std::optional<std::string_view> plainText(Element element) {
        const std::size_t lt = bytes_.find('<', pos_);
        const std::string_view name = kPlistElementNames[static_cast<std::size_t>(element)];
        if (lt == std::string_view::npos || lt + 3 + name.size() > bytes_.size()) return std::nullopt;
        const char* end = bytes_.data() + lt;
        if (end[1] != '/' || std::memcmp(end + 2, name.data(), name.size()) != 0 || end[2 + name.size()] != '>') {
            return std::nullopt;
        }
        const std::string_view text = bytes_.substr(pos_, lt - pos_);
        pos_ = lt + 3 + name.size();
        return text;
    }

    std::size_t position() const noexcept { return pos_; }
    void seek(std::size_t pos) noexcept { pos_ = pos; }

    // Passes blanks, which are text that tells nothing between entries.
    void skipBlanks() noexcept {
        while (pos_ < bytes_.size() && isXmlBlank(bytes_[pos_])) ++pos_;
    }

private:
    Token finish(Token& token, Token::Kind kind, std::string_view text = {}) {
        token.kind = kind;
        token.text = text;
        token.end = pos_;
        return token;
    }

    Token until(Token& token, std::size_t opening, std::string_view terminator, Token::Kind kind) {
        const std::size_t at = bytes_.find(terminator, pos_ + opening);
        if (at == std::string_view::npos) return finish(token, Token::Kind::Malformed);
        const std::string_view content = bytes_.substr(pos_ + opening, at - pos_ - opening);
        pos_ = at + terminator.size();
        return finish(token, kind, content);
    }

    Token tag(Token& token, bool endTag) {
        std::size_t i = pos_ + (endTag ? 2 : 1);
        const std::size_t nameBegin = i;
        // A tag as exports write them: a name of ASCII name characters and
        // no attributes.
        while (i < bytes_.size() && isXmlNameChar(bytes_[i])) ++i;
        if (i > nameBegin && i < bytes_.size() && (bytes_[i] == '>' || (!endTag && bytes_[i] == '/' && i + 1 < bytes_.size() && bytes_[i + 1] == '>'))) {
            if (!endTag) token.element = plistElementNamed(bytes_.substr(nameBegin, i - nameBegin));
            const bool empty = bytes_[i] == '/';
            pos_ = i + (empty ? 2 : 1);
            return finish(token, endTag ? Token::Kind::End : empty ? Token::Kind::EmptyElement : Token::Kind::Start);
        }
        i = nameBegin;
        while (i < bytes_.size() && !isXmlBlank(bytes_[i]) && bytes_[i] != '/' && bytes_[i] != '>') ++i;
        const std::string_view name = bytes_.substr(nameBegin, i - nameBegin);
        if (!endTag) token.element = plistElementNamed(name);
        char quote = 0;
        char last = 0;  // the last character outside quotes and blanks
        for (; i < bytes_.size(); ++i) {
            const char c = bytes_[i];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                break;
            } else if (!isXmlBlank(c)) {
                last = c;
            }
        }
        if (i >= bytes_.size() || name.empty()) return finish(token, Token::Kind::Malformed);
        pos_ = i + 1;
        if (endTag) return finish(token, Token::Kind::End);
        return finish(token, last == '/' ? Token::Kind::EmptyElement : Token::Kind::Start);
    }

    std::string_view bytes_;
    std::size_t pos_ = 0;
};

// Appends `text` (character data as written) with its references decoded.
// A reference that is not understood is kept as it stands, as the reader
// keeps references to entities it does not know.
void appendDecoded(std::string& out, std::string_view text) {
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        out.append(text.substr(0, amp));
        if (amp == std::string_view::npos) return;
        text.remove_prefix(amp);
        const std::size_t semicolon = text.find(';');
        const std::string_view name = semicolon == std::string_view::npos ? std::string_view() : text.substr(1, semicolon - 1);
        if (const auto predefined = xmlPredefinedEntity(name)) {
            out += *predefined;
        } else if (const auto referenced = xmlCharacterReference(name)) {
            appendUTF8(out, *referenced);
        } else {
            out += '&';
            text.remove_prefix(1);
            continue;
        }
        text.remove_prefix(semicolon + 1);
    }
}

// The whitespace between the line break before `at` and `at`, when only
// blanks stand there.
std::string indentationAt(std::string_view bytes, std::size_t at) {
    std::size_t start = at;
    while (start > 0 && (bytes[start - 1] == ' ' || bytes[start - 1] == '\t')) --start;
    if (start > 0 && bytes[start - 1] != '\n' && bytes[start - 1] != '\r') return {};
    return std::string(bytes.substr(start, at - start));
}

// Whether the XML declaration at the start of `bytes`, if any, names an
// encoding other than UTF-8.
bool declaresOtherThanUTF8(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (!bytes.starts_with("<?xml")) return false;
    const auto name = declaredEncoding(bytes.substr(0, bytes.find(kInstructionClose)));
    if (!name || name->empty()) return false;
    const std::string lower = lowerAscii(*name);
    return lower != "utf-8" && lower != "utf8";
}

Error notUnderstood(std::string_view name, std::string_view reason) {
    return Error{"The music library file \"" + shownPath(name) + "\" cannot be changed: " + std::string(reason)};
}

std::optional<Error> notInAnASCIIEncoding(std::string_view bytes, std::string_view name) {
    if (bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE") ||
        std::memchr(bytes.data(), '\0', std::min<std::size_t>(bytes.size(), 4)) != nullptr) {
        return notUnderstood(name, "it is not in an encoding that extends ASCII");
    }
    return std::nullopt;
}

}  // namespace

// Reads the property list's structure as the reader does: the first element
// inside <plist> is the top-level dictionary; in a dictionary a key names
// the value after it; "Tracks" and "Playlists" of the top level, each
// track's "Track ID" and "Persistent ID", each playlist's "Playlist
// Persistent ID", "Master" and "Playlist Items", each member's "Track ID".
class Outliner {
public:
    Outliner(std::string_view bytes, LibraryOutline& outline) : bytes_(bytes), scanner_(bytes, 0), out_(outline) {}

    // Gives the reason when the structure is not understood.
    std::optional<std::string> run() {
        const std::size_t root = XmlPrologLexer().scan(bytes_);
        if (root == XmlPrologLexer::kNotYet) return fail("no <plist> root element");
        scanner_ = Scanner(bytes_, root - 1);
        Token token = next();
        if (token.kind != Token::Kind::Start || token.element != Element::Plist) return fail("no <plist> root element");
        token = next();
        while (token.kind == Token::Kind::Text || token.kind == Token::Kind::Other) token = next();
        if (token.kind != Token::Kind::Start || token.element != Element::Dict) return fail("no top-level dictionary");
        walkDict(token, [this](const Pair& pair) { rootValue(pair); });
        if (failure_) return failure_;
        if (!sawTracks_) return fail("no \"Tracks\" dictionary");
        layoutDefaults();
        return std::nullopt;
    }

private:
    struct Pair {
        std::optional<std::string_view> key;  // none: a value with no key before it
        std::size_t keyLead = 0, keyBegin = 0, keyEnd = 0;
        Token value;
        std::size_t valueLead = 0;  // just after the markup before the value
    };
    // A walked dictionary: the end of the markup before its end tag and
    // where that tag begins, and the whitespace of its first keyed entry
    // (before the key, and between the key and its value).
    struct Walked {
        std::size_t closeLead = 0, closeBegin = 0;
        std::optional<std::pair<ByteRange, ByteRange>> firstField;
    };

    std::optional<std::string> fail(std::string reason) {
        if (!failure_) failure_ = std::move(reason);
        return failure_;
    }

    // The next token; `lead_` becomes the end of the markup before it.
    Token next() {
        lead_ = markupEnd_;
        Token token = scanner_.next();
        if (token.kind == Token::Kind::Malformed) fail("markup that does not end, at byte " + std::to_string(token.begin));
        if (token.kind != Token::Kind::Text || !std::all_of(token.text.begin(), token.text.end(), isXmlBlank)) {
            markupEnd_ = token.end;
        }
        return token;
    }

    // The next token that is not blank text, where blanks tell nothing.
    Token nextMarkup() {
        scanner_.skipBlanks();
        return next();
    }

    bool stop(const Token& token) {
        if (token.kind == Token::Kind::EndOfInput) fail("the file ends inside an element");
        return failure_.has_value();
    }

    // Passes over the element `start` opens, gathering into `text`, if
    // given, the text inside it as the reader does: markup inside is
    // dropped and the text inside it kept.
    void over(const Token& start, std::string* text) {
        if (start.kind != Token::Kind::Start) return;
        if (hasText(start.element)) {
            if (const auto plain = scanner_.plainText(start.element)) {
                markupEnd_ = scanner_.position();
                if (text != nullptr) appendDecoded(*text, *plain);
                return;
            }
        }
        for (std::size_t depth = 1; depth > 0;) {
            const Token token = next();
            if (stop(token)) return;
            if (token.kind == Token::Kind::Start) ++depth;
            if (token.kind == Token::Kind::End) --depth;
            if (text != nullptr && token.kind == Token::Kind::Text) appendDecoded(*text, token.text);
            if (text != nullptr && token.kind == Token::Kind::CData) text->append(token.text);
        }
    }
    void skip(const Token& start) { over(start, nullptr); }
    // The text of the element `start` opens, in `text` or, when it needs
    // no decoding, in the file's bytes.
    std::string_view leafText(const Token& start, std::string& text) {
        if (start.kind == Token::Kind::Start && hasText(start.element)) {
            if (const auto plain = scanner_.plainText(start.element)) {
                markupEnd_ = scanner_.position();
                if (plain->find('&') == std::string_view::npos) return *plain;
                text.clear();
                appendDecoded(text, *plain);
                return text;
            }
        }
        text.clear();
        over(start, &text);
        return text;
    }
    static bool hasText(Element element) {
        return element == Element::Key || element == Element::String || element == Element::Integer ||
               element == Element::Date || element == Element::Real || element == Element::Data;
    }

    static bool is(const Token& token, Element element) {
        return (token.kind == Token::Kind::Start || token.kind == Token::Kind::EmptyElement) && token.element == element;
    }
    static bool isElement(const Token& token) { return is(token, token.element); }

    // Walks the dictionary whose start tag `start` was just read (none for
    // an empty element), handing each value with its key to `onValue`, which
    // reads or skips it.
    template <class OnValue>
    Walked walkDict(const Token& start, const OnValue& onValue) {
        Walked walked;
        std::string key;
        Pair pair;
        while (start.kind == Token::Kind::Start) {
            const Token token = nextMarkup();
            if (stop(token)) return walked;
            if (token.kind == Token::Kind::End) {
                walked.closeLead = lead_;
                walked.closeBegin = token.begin;
                return walked;
            }
            if (!isElement(token)) continue;
            if (token.element == Element::Key) {
                pair.keyLead = lead_;
                pair.keyBegin = token.begin;
                pair.key = leafText(token, key);
                pair.keyEnd = markupEnd_;
                continue;
            }
            pair.value = token;
            pair.valueLead = lead_;
            if (pair.key && !walked.firstField) {
                walked.firstField.emplace(ByteRange{pair.keyLead, pair.keyBegin}, ByteRange{pair.keyEnd, token.begin});
            }
            onValue(pair);
            if (failure_) return walked;
            pair = Pair{};
        }
        return walked;
    }

    // Walks the array whose start tag was just read, likewise.
    template <class OnValue>
    void walkArray(const Token& start, const OnValue& onValue) {
        while (start.kind == Token::Kind::Start) {
            const Token token = nextMarkup();
            if (stop(token) || token.kind == Token::Kind::End) return;
            if (!isElement(token)) continue;
            onValue(token, lead_);
            if (failure_) return;
        }
    }

    void rootValue(const Pair& pair) {
        if (pair.key == "Tracks" && is(pair.value, Element::Dict)) {
            if (sawTracks_) fail("more than one \"Tracks\" dictionary");
            sawTracks_ = true;
            tracksIndent_ = indentationAt(bytes_, pair.value.begin);
            out_.tracksContainer_ = container(pair.value);
            walkDict(pair.value, [this](const Pair& entry) { trackEntry(entry); });
        } else if (pair.key == "Playlists" && is(pair.value, Element::Array)) {
            if (sawPlaylists_) fail("more than one \"Playlists\" array");
            sawPlaylists_ = true;
            walkArray(pair.value, [this](const Token& value, std::size_t) { playlistEntry(value); });
        } else {
            skip(pair.value);
        }
    }

    static OutlineContainer container(const Token& start) {
        return {{start.begin, start.end}, start.kind == Token::Kind::EmptyElement, start.end};
    }

    std::string text(ByteRange range) const { return std::string(bytes_.substr(range.begin, range.end - range.begin)); }

    // The whitespace of a new entry as ranges of the file, made into the
    // layout once the last entry of its kind is known.
    struct LayoutRanges {
        ByteRange lead, keyToDict, field, keyToValue, close;
    };
    EntryLayout layoutOf(const LayoutRanges& ranges) const {
        return {text(ranges.lead), text(ranges.keyToDict), text(ranges.field), text(ranges.keyToValue), text(ranges.close), {}};
    }
    // The layout of an entry whose dictionary was just walked; false when it
    // has no keyed field to copy it from.
    static bool copyLayout(const Walked& walked, LayoutRanges& layout) {
        if (!walked.firstField) return false;
        layout.field = walked.firstField->first;
        layout.keyToValue = walked.firstField->second;
        layout.close = {walked.closeLead, walked.closeBegin};
        return true;
    }

    // `raw` (character data as written) decoded, in `buffer` where it must be.
    static std::string_view decoded(std::string_view raw, std::string& buffer) {
        if (raw.find('&') == std::string_view::npos) return raw;
        buffer.clear();
        appendDecoded(buffer, raw);
        return buffer;
    }

    // Walks the dictionary `start` opens, handing each keyed value to
    // `onField(key, element, text)`, where `text()` gives the value's text
    // (empty for an empty element); a value whose text is not asked for is
    // skipped. A dictionary of keys and text values only, written as
    // exports write them, is passed in one quick pass; at anything else the
    // quick pass gives up and the dictionary is walked from its start, so
    // `onField` must only assign what it is handed.
    template <class OnField>
    Walked walkFields(const Token& start, const OnField& onField) {
        if (auto walked = quickFields(start, onField)) return *walked;
        return walkDict(start, [&](const Pair& field) {
            bool read = false;
            std::string buffer;
            const auto text = [&]() -> std::string_view {
                read = true;
                return leafText(field.value, buffer);
            };
            if (field.key) onField(*field.key, field.value.element, text);
            if (!read) skip(field.value);
        });
    }

    template <class OnField>
    std::optional<Walked> quickFields(const Token& start, const OnField& onField) {
        if (start.kind != Token::Kind::Start) return std::nullopt;
        const std::string_view b = bytes_;
        const auto at = [&](std::size_t i, std::string_view tag) {
            return i + tag.size() <= b.size() && std::memcmp(b.data() + i, tag.data(), tag.size()) == 0;
        };
        const auto blanks = [&](std::size_t i) {
            while (i < b.size() && isXmlBlank(b[i])) ++i;
            return i;
        };
        Walked walked;
        std::size_t markupEnd = markupEnd_;
        std::string keyBuffer, textBuffer;
        for (;;) {
            const std::size_t keyBegin = blanks(markupEnd);
            if (at(keyBegin, "</dict>")) {
                walked.closeLead = markupEnd;
                walked.closeBegin = keyBegin;
                markupEnd_ = keyBegin + std::strlen("</dict>");
                scanner_.seek(markupEnd_);
                return walked;
            }
            if (!at(keyBegin, "<key>")) return std::nullopt;
            const std::size_t keyText = keyBegin + std::strlen("<key>");
            const std::size_t keyClose = b.find('<', keyText);
            if (keyClose == std::string_view::npos || !at(keyClose, "</key>")) return std::nullopt;
            const std::size_t keyEnd = keyClose + std::strlen("</key>");
            const std::size_t valueBegin = blanks(keyEnd);
            if (valueBegin >= b.size() || b[valueBegin] != '<') return std::nullopt;
            std::size_t i = valueBegin + 1;
            while (i < b.size() && isXmlNameChar(b[i])) ++i;
            if (i >= b.size()) return std::nullopt;
            const Element element = plistElementNamed(b.substr(valueBegin + 1, i - valueBegin - 1));
            if (element == Element::Other || element == Element::Key) return std::nullopt;  // a key is no value
            std::string_view raw;
            std::size_t valueEnd;
            if (at(i, "/>")) {
                valueEnd = i + 2;
            } else if (b[i] == '>' && hasText(element)) {
                const std::size_t close = b.find('<', i + 1);
                const std::string_view name = kPlistElementNames[static_cast<std::size_t>(element)];
                if (close == std::string_view::npos || !at(close, "</") || !at(close + 2, name) ||
                    !at(close + 2 + name.size(), ">")) {
                    return std::nullopt;
                }
                raw = b.substr(i + 1, close - i - 1);
                valueEnd = close + 3 + name.size();
            } else {
                return std::nullopt;
            }
            if (!walked.firstField) walked.firstField.emplace(ByteRange{markupEnd, keyBegin}, ByteRange{keyEnd, valueBegin});
            const std::string_view key = decoded(b.substr(keyText, keyClose - keyText), keyBuffer);
            onField(key, element, [&] { return decoded(raw, textBuffer); });
            markupEnd = valueEnd;
        }
    }

    void trackEntry(const Pair& pair) {
        if (!is(pair.value, Element::Dict)) return skip(pair.value);
        OutlineTrack track;
        track.entry.begin = pair.key ? pair.keyLead : pair.valueLead;
        const std::optional<std::int64_t> key = pair.key ? parsePlistInteger(*pair.key) : std::nullopt;
        std::optional<std::int64_t> trackID;
        LayoutRanges layout;
        layout.lead = {track.entry.begin, pair.key ? pair.keyBegin : pair.value.begin};
        if (pair.key) layout.keyToDict = {pair.keyEnd, pair.value.begin};
        const Walked walked = walkFields(pair.value, [&](std::string_view field, Element element, const auto& text) {
            if (field == "Track ID" && element == Element::Integer) {
                trackID = parsePlistInteger(text());
            } else if (field == "Persistent ID" && element == Element::String) {
                track.persistentID = parsePersistentID(text()).value_or(0);
            } else if (field == "Location" && element == Element::String && !out_.locationSource_) {
                // What the reader will most likely find the first file
                // location to be; it has the last word (agreeWith).
                const std::string_view location = text();
                if (location.starts_with("file:")) {
                    out_.locationSource_ = out_.tracks_.size();
                    out_.localhostLocations_ = location.starts_with("file://localhost/");
                }
            }
        });
        // A track laid out like an export's (a key, then fields) is the model
        // for new ones.
        if (pair.key && copyLayout(walked, layout)) {
            trackLayout_ = layout;
            out_.trackLayoutSource_ = out_.tracks_.size();
        }
        track.entry.end = markupEnd_;
        track.trackID = trackID ? trackID : key;
        out_.tracksContainer_.append = track.entry.end;
        out_.tracks_.push_back(track);
    }

    void playlistEntry(const Token& value) {
        if (!is(value, Element::Dict)) return skip(value);
        OutlinePlaylist playlist;
        if (value.kind == Token::Kind::Start) {
            std::string id;
            const Walked walked = walkDict(value, [&](const Pair& field) {
                if (field.key == "Playlist Persistent ID" && is(field.value, Element::String)) {
                    playlist.persistentID = parsePersistentID(leafText(field.value, id)).value_or(0);
                } else if (field.key == "Master" && (is(field.value, Element::True) || is(field.value, Element::False))) {
                    playlist.master = field.value.element == Element::True;
                    skip(field.value);
                } else if (field.key == "Playlist Items" && is(field.value, Element::Array)) {
                    playlistItems(playlist, field.value);
                } else {
                    skip(field.value);
                }
            });
            playlist.keyAppend = walked.closeLead;
            if (walked.firstField) {
                playlist.field = text(walked.firstField->first);
                playlist.keyToValue = text(walked.firstField->second);
            } else {
                playlist.field = out_.newline_ + indentationAt(bytes_, value.begin) + "\t";
            }
        }
        out_.playlists_.push_back(std::move(playlist));
    }

    void playlistItems(OutlinePlaylist& playlist, const Token& start) {
        // The last "Playlist Items" counts, as in the reader.
        playlist.items = container(start);
        playlist.members.clear();
        walkArray(start, [&](const Token& value, std::size_t lead) {
            if (!is(value, Element::Dict)) return skip(value);
            OutlineMember member;
            member.entry.begin = lead;
            LayoutRanges layout;
            layout.lead = {lead, value.begin};
            const Walked walked = walkFields(value, [&](std::string_view field, Element element, const auto& text) {
                if (field == "Track ID" && element == Element::Integer) member.trackID = parsePlistInteger(text());
            });
            if (copyLayout(walked, layout)) {
                memberLayout_ = layout;
                out_.memberLayoutSource_.emplace(out_.playlists_.size(), playlist.members.size());
            }
            member.entry.end = markupEnd_;
            playlist.items->append = member.entry.end;
            playlist.members.push_back(member);
        });
    }

    // Layouts for files that have no entry of a kind to copy: one tab deeper
    // than the container, in the file's line breaks.
    void layoutDefaults() {
        const std::string& nl = out_.newline_;
        if (out_.trackLayoutSource_) out_.trackLayout_ = layoutOf(trackLayout_);
        if (out_.memberLayoutSource_) out_.memberLayout_ = layoutOf(memberLayout_);
        if (!out_.trackLayoutSource_) {
            out_.trackLayout_ = {nl + tracksIndent_ + "\t", nl + tracksIndent_ + "\t", nl + tracksIndent_ + "\t\t", "",
                                 nl + tracksIndent_ + "\t", ""};
        }
        out_.trackLayout_.containerClose = nl + tracksIndent_;
        // Members go under the master playlist's items, or where they would go.
        std::string indent;
        for (const auto& playlist : out_.playlists_) {
            if (!playlist.master) continue;
            indent = playlist.items ? indentationAt(bytes_, playlist.items->startTag.begin)
                                    : playlist.field.substr(playlist.field.find_last_of("\r\n") + 1);
            break;
        }
        if (!out_.memberLayoutSource_) {
            out_.memberLayout_ = {nl + indent + "\t", "", nl + indent + "\t\t", "", nl + indent + "\t", ""};
        }
        out_.memberLayout_.containerClose = nl + indent;
    }

    std::string_view bytes_;
    Scanner scanner_;
    LibraryOutline& out_;
    std::size_t markupEnd_ = 0, lead_ = 0;
    std::optional<std::string> failure_;
    bool sawTracks_ = false, sawPlaylists_ = false;
    LayoutRanges trackLayout_, memberLayout_;  // of the layouts' sources
    std::string tracksIndent_;
};

ReaderListing::ReaderListing(const ITLibrary& library) {
    const auto& items = library.allMediaItems();
    tracks.reserve(items.size());
    for (const auto& item : items) {
        if (!firstFileLocation && item.location() && item.location()->isFileURL()) {
            firstFileLocation = tracks.size();
            localhostLocations = item.location()->absoluteString().starts_with("file://localhost/");
        }
        tracks.push_back(item.persistentID());
    }
    for (const auto& playlist : library.allPlaylists()) playlists.emplace_back(playlist.persistentID(), playlist.isMaster());
}

Result<LibraryOutline> LibraryOutline::of(std::string_view bytes, std::string_view name) {
    if (auto refused = notInAnASCIIEncoding(bytes, name)) return *refused;
    Result<std::unique_ptr<ITLibrary>> read = ITLibraryReader::readBytes(bytes, name);
    if (!read) return read.error();
    const ReaderListing listing(*read.value());
    read.value().reset();
    return of(bytes, name, listing);
}

Result<LibraryOutline> LibraryOutline::of(std::string_view bytes, std::string_view name, const ReaderListing& read) {
    Result<LibraryOutline> outline = scan(bytes, name);
    if (!outline) return outline;
    if (Status agrees = outline.value().agreeWith(read, name); !agrees) return agrees.error();
    return outline;
}

Result<LibraryOutline> LibraryOutline::scan(std::string_view bytes, std::string_view name) {
    if (auto refused = notInAnASCIIEncoding(bytes, name)) return *refused;
    LibraryOutline outline;
    const std::size_t lf = bytes.find('\n');
    if (lf != std::string_view::npos && lf > 0 && bytes[lf - 1] == '\r') outline.newline_ = "\r\n";
    outline.asciiOnly_ = declaresOtherThanUTF8(bytes);
    if (auto reason = Outliner(bytes, outline).run()) return notUnderstood(name, *reason);
    return outline;
}

Status LibraryOutline::agreeWith(const ReaderListing& read, std::string_view name) {
    bool same = read.tracks.size() == tracks_.size() && read.playlists.size() == playlists_.size();
    for (std::size_t i = 0; same && i < read.tracks.size(); ++i) same = read.tracks[i] == tracks_[i].persistentID;
    for (std::size_t i = 0; same && i < read.playlists.size(); ++i) {
        same = read.playlists[i].first == playlists_[i].persistentID && read.playlists[i].second == playlists_[i].master;
    }
    if (!same) return notUnderstood(name, "its tracks and playlists are not laid out as an export's");
    locationSource_ = read.firstFileLocation;
    localhostLocations_ = read.localhostLocations;
    return success();
}

OutlineChange LibraryOutline::addition(std::vector<NewTrackEntry> entries) const {
    OutlineChange change;
    if (entries.empty()) return change;
    std::string text;
    for (const auto& entry : entries) text += entry.text;
    OutlineEdit tracks;
    if (tracksContainer_.emptyElement) {
        tracks = {tracksContainer_.startTag.begin, tracksContainer_.startTag.end,
                  "<dict>" + text + trackLayout_.containerClose + "</dict>"};
        change.tracksAt_ = std::strlen("<dict>");
    } else {
        tracks = {tracksContainer_.append, tracksContainer_.append, std::move(text)};
    }

    std::optional<OutlineEdit> members;
    const auto master = std::find_if(playlists_.begin(), playlists_.end(), [](const auto& p) { return p.master; });
    if (master != playlists_.end() && (master->items || master->keyAppend)) {
        const std::string open = "<array>";
        const EntryLayout& layout = memberLayout_;
        std::string entriesText;
        for (const auto& entry : entries) {
            const std::string member = layout.lead + "<dict>" + layout.field + "<key>Track ID</key>" + layout.keyToValue +
                                       "<integer>" + std::to_string(entry.trackID) + "</integer>" + layout.close +
                                       "</dict>";
            change.memberLengths_.push_back(member.size());
            entriesText += member;
        }
        const std::string array = open + entriesText + layout.containerClose + "</array>";
        if (master->items && master->items->emptyElement) {
            members = OutlineEdit{master->items->startTag.begin, master->items->startTag.end, array};
            change.membersAt_ = open.size();
        } else if (master->items) {
            members = OutlineEdit{master->items->append, master->items->append, entriesText};
        } else {
            const std::string key = master->field + "<key>Playlist Items</key>" + master->keyToValue;
            members = OutlineEdit{*master->keyAppend, *master->keyAppend, key + array};
            change.membersAt_ = key.size() + open.size();
        }
        change.master_ = static_cast<std::size_t>(master - playlists_.begin());
    }

    if (members && members->begin < tracks.begin) {
        change.edits_ = {std::move(*members), std::move(tracks)};
        change.membersEdit_ = 0;
        change.tracksEdit_ = 1;
    } else {
        change.edits_.push_back(std::move(tracks));
        if (members) change.edits_.push_back(std::move(*members));
        change.tracksEdit_ = 0;
        change.membersEdit_ = 1;
    }
    change.added_ = std::move(entries);
    return change;
}

OutlineChange LibraryOutline::removal(std::size_t index) const {
    OutlineChange change;
    const OutlineTrack& track = tracks_.at(index);
    change.removed_ = index;
    change.edits_.push_back({track.entry.begin, track.entry.end, {}});
    // Members name tracks by track ID: while another track has the same ID,
    // they stay, since they may be that track's.
    const bool shared = std::count_if(tracks_.begin(), tracks_.end(), [&](const OutlineTrack& other) {
                            return other.trackID == track.trackID;
                        }) > 1;
    if (track.trackID && !shared) {
        for (std::size_t p = 0; p < playlists_.size(); ++p) {
            const auto& members = playlists_[p].members;
            for (std::size_t m = 0; m < members.size(); ++m) {
                if (members[m].trackID != track.trackID) continue;
                change.edits_.push_back({members[m].entry.begin, members[m].entry.end, {}});
                change.removedMembers_.emplace_back(p, m);
            }
        }
    }
    std::sort(change.edits_.begin(), change.edits_.end(),
              [](const OutlineEdit& a, const OutlineEdit& b) { return a.begin < b.begin; });
    return change;
}

bool LibraryOutline::apply(const OutlineChange& change) {
    const std::vector<OutlineEdit>& edits = change.edits_;
    // Where a position of the old file is in the new one. A range's end
    // where text is inserted stays before the text, its beginning goes
    // after it; positions inside a replaced range are set below.
    const auto moved = [&](std::size_t at, bool end) {
        std::ptrdiff_t shift = 0;
        for (const OutlineEdit& edit : edits) {
            const bool after = edit.begin == edit.end ? at > edit.begin || (at == edit.begin && !end) : at >= edit.end;
            if (!after) break;
            shift += static_cast<std::ptrdiff_t>(edit.text.size()) - static_cast<std::ptrdiff_t>(edit.end - edit.begin);
        }
        return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(at) + shift);
    };
    const auto move = [&](ByteRange& range) {
        range.begin = moved(range.begin, false);
        range.end = moved(range.end, true);
    };

    if (change.removed_) {
        const std::size_t removed = *change.removed_;
        if (trackLayoutSource_ == removed || locationSource_ == removed) return false;
        for (const auto& member : change.removedMembers_) {
            if (memberLayoutSource_ == member) return false;
        }
        tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(removed));
        if (trackLayoutSource_ > removed) --*trackLayoutSource_;
        if (locationSource_ > removed) --*locationSource_;
        for (auto it = change.removedMembers_.rbegin(); it != change.removedMembers_.rend(); ++it) {
            auto& members = playlists_[it->first].members;
            members.erase(members.begin() + static_cast<std::ptrdiff_t>(it->second));
            if (memberLayoutSource_ && memberLayoutSource_->first == it->first && memberLayoutSource_->second > it->second) {
                --memberLayoutSource_->second;
            }
        }
    }

    move(tracksContainer_.startTag);
    for (OutlineTrack& track : tracks_) move(track.entry);
    for (OutlinePlaylist& playlist : playlists_) {
        if (playlist.items) move(playlist.items->startTag);
        for (OutlineMember& member : playlist.members) move(member.entry);
        if (playlist.keyAppend) playlist.keyAppend = moved(*playlist.keyAppend, true);
    }

    if (!change.added_.empty()) {
        // Where an edit's text begins in the new file.
        const auto textAt = [&](std::size_t edit) { return moved(edits[edit].begin, true); };
        const std::size_t tracksText = textAt(change.tracksEdit_);
        if (tracksContainer_.emptyElement) {
            tracksContainer_.startTag = {tracksText, tracksText + change.tracksAt_};
            tracksContainer_.emptyElement = false;
        }
        std::size_t at = tracksText + change.tracksAt_;
        for (const NewTrackEntry& entry : change.added_) {
            tracks_.push_back({{at, at + entry.text.size()}, entry.trackID, entry.persistentID});
            at += entry.text.size();
        }
        trackLayoutSource_ = tracks_.size() - 1;
        if (!locationSource_) locationSource_ = tracks_.size() - change.added_.size();

        if (change.master_) {
            OutlinePlaylist& master = playlists_[*change.master_];
            const OutlineEdit& edit = edits[change.membersEdit_];
            const std::size_t text = textAt(change.membersEdit_);
            const std::size_t open = std::strlen("<array>");
            if (!master.items) {  // a key and an array, at the end of the dictionary
                const std::size_t array = change.membersAt_ - open;
                master.items = OutlineContainer{{text + array, text + change.membersAt_}, false, 0};
                master.keyAppend = text + edit.text.size();
                memberLayout_.containerClose = newline_ + indentationAt(edit.text, array);
            } else if (master.items->emptyElement) {
                master.items->startTag = {text, text + open};
                master.items->emptyElement = false;
            }
            at = text + change.membersAt_;
            for (std::size_t i = 0; i < change.added_.size(); ++i) {
                master.members.push_back({{at, at + change.memberLengths_[i]}, change.added_[i].trackID});
                at += change.memberLengths_[i];
            }
            if (!memberLayoutSource_ || memberLayoutSource_->first <= *change.master_) {
                memberLayoutSource_.emplace(*change.master_, master.members.size() - 1);
            }
        }
    }

    // A container's new last entry goes after its last entry, else after
    // its start tag.
    tracksContainer_.append = tracks_.empty() ? tracksContainer_.startTag.end : tracks_.back().entry.end;
    for (OutlinePlaylist& playlist : playlists_) {
        if (playlist.items) {
            playlist.items->append = playlist.members.empty() ? playlist.items->startTag.end
                                                              : playlist.members.back().entry.end;
        }
    }
    return true;
}

}  // namespace platform
