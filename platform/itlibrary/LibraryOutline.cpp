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
        if (rest.starts_with(kCommentOpen)) return until(token, kCommentOpen.size(), kCommentClose, Token::Kind::Other);
        if (rest.starts_with(kCDataOpen)) return until(token, kCDataOpen.size(), kCDataClose, Token::Kind::CData);
        if (rest.starts_with(kInstructionOpen)) {
            return until(token, kInstructionOpen.size(), kInstructionClose, Token::Kind::Other);
        }
        if (rest.starts_with("<!")) return finish(token, Token::Kind::Malformed);  // declarations precede the root
        return tag(token, rest.starts_with("</"));
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

    bool stop(const Token& token) {
        if (token.kind == Token::Kind::EndOfInput) fail("the file ends inside an element");
        return failure_.has_value();
    }

    // Passes over the element `start` opens, gathering into `text`, if
    // given, the text inside it as the reader does: markup inside is
    // dropped and the text inside it kept.
    void over(const Token& start, std::string* text) {
        if (start.kind != Token::Kind::Start) return;
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
    std::string& leafText(const Token& start, std::string& text) {
        text.clear();
        over(start, &text);
        return text;
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
            const Token token = next();
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
            const Token token = next();
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

    // The whitespace of a new entry copied from one whose dictionary was
    // just walked; false when it has no keyed field to copy it from.
    bool copyLayout(const Walked& walked, EntryLayout& layout) const {
        if (!walked.firstField) return false;
        layout.field = text(walked.firstField->first);
        layout.keyToValue = text(walked.firstField->second);
        layout.close = text({walked.closeLead, walked.closeBegin});
        return true;
    }

    void trackEntry(const Pair& pair) {
        if (!is(pair.value, Element::Dict)) return skip(pair.value);
        OutlineTrack track;
        track.entry.begin = pair.key ? pair.keyLead : pair.valueLead;
        const std::optional<std::int64_t> key = pair.key ? parsePlistInteger(*pair.key) : std::nullopt;
        std::optional<std::int64_t> trackID;
        EntryLayout layout;
        layout.lead = text({track.entry.begin, pair.key ? pair.keyBegin : pair.value.begin});
        if (pair.key) layout.keyToDict = text({pair.keyEnd, pair.value.begin});
        std::string id;
        const Walked walked = walkDict(pair.value, [&](const Pair& field) {
            if (field.key == "Track ID" && is(field.value, Element::Integer)) {
                trackID = parsePlistInteger(leafText(field.value, id));
            } else if (field.key == "Persistent ID" && is(field.value, Element::String)) {
                track.persistentID = parsePersistentID(leafText(field.value, id)).value_or(0);
            } else {
                skip(field.value);
            }
        });
        // A track laid out like an export's (a key, then fields) is the model
        // for new ones.
        if (pair.key && copyLayout(walked, layout)) {
            out_.trackLayout_ = std::move(layout);
            sawTrackLayout_ = true;
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
            EntryLayout layout;
            layout.lead = text({lead, value.begin});
            std::string id;
            const Walked walked = walkDict(value, [&](const Pair& field) {
                if (field.key == "Track ID" && is(field.value, Element::Integer)) {
                    member.trackID = parsePlistInteger(leafText(field.value, id));
                } else {
                    skip(field.value);
                }
            });
            if (copyLayout(walked, layout)) {
                out_.memberLayout_ = std::move(layout);
                sawMemberLayout_ = true;
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
        if (!sawTrackLayout_) {
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
        if (!sawMemberLayout_) {
            out_.memberLayout_ = {nl + indent + "\t", "", nl + indent + "\t\t", "", nl + indent + "\t", ""};
        }
        out_.memberLayout_.containerClose = nl + indent;
    }

    std::string_view bytes_;
    Scanner scanner_;
    LibraryOutline& out_;
    std::size_t markupEnd_ = 0, lead_ = 0;
    std::optional<std::string> failure_;
    bool sawTracks_ = false, sawPlaylists_ = false, sawTrackLayout_ = false, sawMemberLayout_ = false;
    std::string tracksIndent_;
};

Result<LibraryOutline> LibraryOutline::of(std::string_view bytes, std::string_view name) {
    const auto notUnderstood = [&](std::string_view reason) {
        return Error{"The music library file \"" + shownPath(name) + "\" cannot be changed: " + std::string(reason)};
    };
    if (bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE") ||
        std::memchr(bytes.data(), '\0', std::min<std::size_t>(bytes.size(), 4)) != nullptr) {
        return notUnderstood("it is not in an encoding that extends ASCII");
    }
    Result<std::unique_ptr<ITLibrary>> read = ITLibraryReader::readBytes(bytes, name);
    if (!read) return read.error();

    LibraryOutline outline;
    outline.library_ = std::move(read.value());
    const std::size_t lf = bytes.find('\n');
    if (lf != std::string_view::npos && lf > 0 && bytes[lf - 1] == '\r') outline.newline_ = "\r\n";
    outline.asciiOnly_ = declaresOtherThanUTF8(bytes);
    if (auto reason = Outliner(bytes, outline).run()) return notUnderstood(*reason);

    // The scan and the reader must see the same tracks and playlists.
    const ITLibrary& library = *outline.library_;
    const auto& items = library.allMediaItems();
    const auto& playlists = library.allPlaylists();
    bool same = items.size() == outline.tracks_.size() && playlists.size() == outline.playlists_.size();
    for (std::size_t i = 0; same && i < items.size(); ++i) {
        same = items[i].persistentID() == outline.tracks_[i].persistentID;
    }
    for (std::size_t i = 0; same && i < playlists.size(); ++i) {
        same = playlists[i].persistentID() == outline.playlists_[i].persistentID &&
               playlists[i].isMaster() == outline.playlists_[i].master;
    }
    if (!same) return notUnderstood("its tracks and playlists are not laid out as an export's");
    return outline;
}

}  // namespace platform
