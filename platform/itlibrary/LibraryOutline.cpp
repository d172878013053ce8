#include "platform/itlibrary/LibraryOutline.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>

#include "platform/foundation/UTF8.h"
#include "platform/itlibrary/internal/ITLibraryReader.h"
#include "platform/itlibrary/internal/PlistValues.h"

namespace platform {
namespace {

struct Token {
    enum class Kind { Start, End, EmptyElement, Text, CData, Other, EndOfInput, Malformed };
    Kind kind = Kind::EndOfInput;
    std::string_view name;  // of a tag
    std::string_view text;  // of text as written, of a CDATA section its content
    std::size_t begin = 0, end = 0;
};

bool isBlank(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool allBlank(std::string_view text) noexcept {
    for (const char c : text) {
        if (!isBlank(c)) return false;
    }
    return true;
}

// Splits XML into tags, text, CDATA sections and the rest (comments,
// processing instructions, the document type declaration), without
// interpreting anything beyond what finding their ends needs.
class Scanner {
public:
    explicit Scanner(std::string_view bytes) : bytes_(bytes) {}

    Token next() {
        Token token;
        token.begin = pos_;
        if (pos_ >= bytes_.size()) return token;
        if (bytes_[pos_] != '<') {
            const std::size_t lt = bytes_.find('<', pos_);
            pos_ = lt == std::string_view::npos ? bytes_.size() : lt;
            return finish(token, Token::Kind::Text, bytes_.substr(token.begin, pos_ - token.begin));
        }
        const std::string_view rest = bytes_.substr(pos_);
        if (rest.starts_with("<!--")) return until(token, "-->", 4, Token::Kind::Other);
        if (rest.starts_with("<![CDATA[")) return until(token, "]]>", 9, Token::Kind::CData);
        if (rest.starts_with("<?")) return until(token, "?>", 2, Token::Kind::Other);
        if (rest.starts_with("<!")) return declaration(token);
        return tag(token, rest.starts_with("</"));
    }

private:
    Token finish(Token& token, Token::Kind kind, std::string_view text = {}) {
        token.kind = kind;
        token.text = text;
        token.end = pos_;
        return token;
    }

    Token until(Token& token, std::string_view terminator, std::size_t opening, Token::Kind kind) {
        const std::size_t at = bytes_.find(terminator, pos_ + opening);
        if (at == std::string_view::npos) return finish(token, Token::Kind::Malformed);
        const std::string_view content = bytes_.substr(pos_ + opening, at - pos_ - opening);
        pos_ = at + terminator.size();
        return finish(token, kind, content);
    }

    // "<!DOCTYPE ...>", with quoted literals and an internal subset that
    // may hold ">" of their own.
    Token declaration(Token& token) {
        char quote = 0;
        int depth = 0;
        for (std::size_t i = pos_ + 2; i < bytes_.size(); ++i) {
            const char c = bytes_[i];
            if (quote != 0) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (depth > 0 && bytes_.substr(i).starts_with("<!--")) {
                const std::size_t end = bytes_.find("-->", i + 4);
                if (end == std::string_view::npos) break;
                i = end + 2;
            } else if (c == '[') {
                ++depth;
            } else if (c == ']') {
                --depth;
            } else if (c == '>' && depth <= 0) {
                pos_ = i + 1;
                return finish(token, Token::Kind::Other);
            }
        }
        return finish(token, Token::Kind::Malformed);
    }

    Token tag(Token& token, bool endTag) {
        std::size_t i = pos_ + (endTag ? 2 : 1);
        const std::size_t nameBegin = i;
        while (i < bytes_.size() && !isBlank(bytes_[i]) && bytes_[i] != '/' && bytes_[i] != '>') ++i;
        token.name = bytes_.substr(nameBegin, i - nameBegin);
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
            } else if (!isBlank(c)) {
                last = c;
            }
        }
        if (i >= bytes_.size() || token.name.empty()) return finish(token, Token::Kind::Malformed);
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
        const std::size_t semi = text.find(';');
        const std::string_view name = semi == std::string_view::npos ? std::string_view() : text.substr(1, semi - 1);
        static constexpr std::pair<std::string_view, char> kNamed[] = {
            {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
        bool done = false;
        for (const auto& [entity, c] : kNamed) {
            if (name == entity) {
                out += c;
                done = true;
            }
        }
        if (!done && name.size() > 1 && name[0] == '#') {
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            std::uint32_t value = 0;
            bool valid = !digits.empty() && digits.size() <= 8;
            for (const char c : digits) {
                const int d = c >= '0' && c <= '9'   ? c - '0'
                              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                             : -1;
                if (d < 0) valid = false;
                value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d < 0 ? 0 : d);
            }
            if (valid && value > 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
                appendUTF8(out, static_cast<char32_t>(value));
                done = true;
            }
        }
        if (!done) {
            out += '&';
            text.remove_prefix(1);
            continue;
        }
        text.remove_prefix(semi + 1);
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

// The encoding an XML declaration at the start of `bytes` names, if any.
std::string declaredEncoding(std::string_view bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (!bytes.starts_with("<?xml")) return {};
    const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
    const std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos) return {};
    const std::size_t open = declaration.find_first_of("\"'", at);
    if (open == std::string_view::npos) return {};
    const std::size_t close = declaration.find(declaration[open], open + 1);
    if (close == std::string_view::npos) return {};
    std::string name(declaration.substr(open + 1, close - open - 1));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace

// Reads the property list's structure as the reader does: the first element
// inside <plist> is the top-level dictionary; in a dictionary a key names
// the value after it; "Tracks" and "Playlists" of the top level, each
// track's "Track ID" and "Persistent ID", each playlist's "Playlist
// Persistent ID", "Master" and "Playlist Items", each member's "Track ID".
class Outliner {
public:
    Outliner(std::string_view bytes, LibraryOutline& outline) : bytes_(bytes), scanner_(bytes), out_(outline) {}

    // Gives the reason when the structure is not understood.
    std::optional<std::string> run() {
        Token token = next();
        while (token.kind == Token::Kind::Text || token.kind == Token::Kind::Other) token = next();
        if (token.kind != Token::Kind::Start || token.name != "plist") return fail("no <plist> root element");
        token = next();
        while (token.kind == Token::Kind::Text || token.kind == Token::Kind::Other) token = next();
        if (token.kind != Token::Kind::Start || token.name != "dict") return fail("no top-level dictionary");
        walkDict([this](const Pair& pair) { return rootValue(pair); });
        if (failure_) return failure_;
        if (!sawTracks_) return fail("no \"Tracks\" dictionary");
        layoutDefaults();
        return std::nullopt;
    }

private:
    struct Pair {
        std::optional<std::string> key;  // none: a value with no key before it
        std::size_t keyLead = 0, keyBegin = 0, keyEnd = 0;
        Token value;
        std::size_t valueLead = 0;  // just after the markup before the value
    };
    // The end tag that closed the last walked dictionary or array, and the
    // end of the markup before it.
    struct Closing {
        std::size_t lead = 0, begin = 0;
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
        if (token.kind != Token::Kind::Text || !allBlank(token.text)) markupEnd_ = token.end;
        return token;
    }

    bool stop(const Token& token) {
        if (token.kind == Token::Kind::EndOfInput) fail("the file ends inside an element");
        return failure_.has_value();
    }

    // Skips the element that `start` opens.
    void skip(const Token& start) {
        if (start.kind != Token::Kind::Start) return;
        for (std::size_t depth = 1; depth > 0;) {
            const Token token = next();
            if (stop(token)) return;
            if (token.kind == Token::Kind::Start) ++depth;
            if (token.kind == Token::Kind::End) --depth;
        }
    }

    // The text of the leaf element `start` opens. As in the reader, markup
    // inside is dropped and the text inside it kept.
    std::string leafText(const Token& start) {
        std::string text;
        if (start.kind != Token::Kind::Start) return text;
        for (std::size_t depth = 1; depth > 0;) {
            const Token token = next();
            if (stop(token)) return text;
            if (token.kind == Token::Kind::Start) ++depth;
            if (token.kind == Token::Kind::End) --depth;
            if (token.kind == Token::Kind::Text) appendDecoded(text, token.text);
            if (token.kind == Token::Kind::CData) text.append(token.text);
        }
        return text;
    }

    bool isElement(const Token& token) const {
        return token.kind == Token::Kind::Start || token.kind == Token::Kind::EmptyElement;
    }

    // Walks the dictionary whose start tag was just read, handing each value
    // with its key to `onValue`, which reads or skips it.
    Closing walkDict(const std::function<void(const Pair&)>& onValue) {
        Pair pair;
        for (;;) {
            const Token token = next();
            if (stop(token)) return {};
            if (token.kind == Token::Kind::End) return {lead_, token.begin};
            if (!isElement(token)) continue;
            if (token.name == "key") {
                pair.keyLead = lead_;
                pair.keyBegin = token.begin;
                pair.key = leafText(token);
                pair.keyEnd = markupEnd_;
                continue;
            }
            pair.value = token;
            pair.valueLead = lead_;
            onValue(pair);
            if (failure_) return {};
            pair = Pair{};
        }
    }

    // Walks the array whose start tag was just read, likewise.
    Closing walkArray(const std::function<void(const Token&, std::size_t lead)>& onValue) {
        for (;;) {
            const Token token = next();
            if (stop(token)) return {};
            if (token.kind == Token::Kind::End) return {lead_, token.begin};
            if (!isElement(token)) continue;
            onValue(token, lead_);
            if (failure_) return {};
        }
    }

    bool is(const Token& token, std::string_view name) const { return isElement(token) && token.name == name; }

    void rootValue(const Pair& pair) {
        if (pair.key == "Tracks" && is(pair.value, "dict")) {
            if (sawTracks_) fail("more than one \"Tracks\" dictionary");
            sawTracks_ = true;
            tracksIndent_ = indentationAt(bytes_, pair.value.begin);
            out_.tracksContainer_ = container(pair.value);
            if (pair.value.kind == Token::Kind::Start) {
                walkDict([this](const Pair& entry) { trackEntry(entry); });
            }
        } else if (pair.key == "Playlists" && is(pair.value, "array")) {
            if (sawPlaylists_) fail("more than one \"Playlists\" array");
            sawPlaylists_ = true;
            if (pair.value.kind == Token::Kind::Start) {
                walkArray([this](const Token& value, std::size_t) { playlistEntry(value); });
            }
        } else {
            skip(pair.value);
        }
    }

    OutlineContainer container(const Token& start) const {
        OutlineContainer c;
        c.startTag = {start.begin, start.end};
        c.emptyElement = start.kind == Token::Kind::EmptyElement;
        c.append = start.end;
        return c;
    }

    // Copies bytes [from, to) into `into`.
    void copyInto(std::string& into, std::size_t from, std::size_t to) const {
        into.assign(bytes_.substr(from, to - from));
    }

    void trackEntry(const Pair& pair) {
        if (!is(pair.value, "dict")) return skip(pair.value);
        OutlineTrack track;
        track.entry.begin = pair.key ? pair.keyLead : pair.valueLead;
        std::optional<std::int64_t> key;
        if (pair.key) key = parsePlistInteger(*pair.key);
        std::optional<std::int64_t> trackID;
        bool first = true;
        EntryLayout layout;
        if (pair.key) {
            copyInto(layout.lead, pair.keyLead, pair.keyBegin);
            copyInto(layout.keyToDict, pair.keyEnd, pair.value.begin);
        } else {
            copyInto(layout.lead, pair.valueLead, pair.value.begin);
        }
        if (pair.value.kind == Token::Kind::Start) {
            const Closing closing = walkDict([&](const Pair& field) {
                if (first && field.key) {
                    copyInto(layout.field, field.keyLead, field.keyBegin);
                    copyInto(layout.keyToValue, field.keyEnd, field.value.begin);
                    first = false;
                }
                if (field.key == "Track ID" && is(field.value, "integer")) {
                    trackID = parsePlistInteger(leafText(field.value));
                } else if (field.key == "Persistent ID" && is(field.value, "string")) {
                    track.persistentID = parsePersistentID(leafText(field.value)).value_or(0);
                } else {
                    skip(field.value);
                }
            });
            copyInto(layout.close, closing.lead, closing.begin);
            // A track laid out like an export's (a key, then fields) is the
            // model for new ones.
            if (pair.key && !first) {
                out_.trackLayout_ = std::move(layout);
                sawTrackLayout_ = true;
            }
        }
        track.entry.end = markupEnd_;
        track.trackID = trackID ? trackID : key;
        out_.tracksContainer_.append = track.entry.end;
        out_.tracks_.push_back(track);
    }

    void playlistEntry(const Token& value) {
        if (!is(value, "dict")) return skip(value);
        OutlinePlaylist playlist;
        bool first = true;
        if (value.kind == Token::Kind::Start) {
            const Closing closing = walkDict([&](const Pair& field) {
                if (first && field.key) {
                    copyInto(playlist.field, field.keyLead, field.keyBegin);
                    copyInto(playlist.keyToValue, field.keyEnd, field.value.begin);
                    first = false;
                }
                if (field.key == "Playlist Persistent ID" && is(field.value, "string")) {
                    playlist.persistentID = parsePersistentID(leafText(field.value)).value_or(0);
                } else if (field.key == "Master" && (is(field.value, "true") || is(field.value, "false"))) {
                    playlist.master = field.value.name == "true";
                    skip(field.value);
                } else if (field.key == "Playlist Items" && is(field.value, "array")) {
                    playlistItems(playlist, field.value);
                } else {
                    skip(field.value);
                }
            });
            playlist.keyAppend = closing.lead;
            if (first) playlist.field = out_.newline_ + indentationAt(bytes_, value.begin) + "\t";
        }
        out_.playlists_.push_back(std::move(playlist));
    }

    void playlistItems(OutlinePlaylist& playlist, const Token& start) {
        // The last "Playlist Items" counts, as in the reader.
        playlist.items = container(start);
        playlist.members.clear();
        if (start.kind != Token::Kind::Start) return;
        walkArray([&](const Token& value, std::size_t lead) {
            if (!is(value, "dict")) return skip(value);
            OutlineMember member;
            member.entry.begin = lead;
            EntryLayout layout;
            copyInto(layout.lead, lead, value.begin);
            bool first = true;
            if (value.kind == Token::Kind::Start) {
                const Closing closing = walkDict([&](const Pair& field) {
                    if (first && field.key) {
                        copyInto(layout.field, field.keyLead, field.keyBegin);
                        copyInto(layout.keyToValue, field.keyEnd, field.value.begin);
                        first = false;
                    }
                    if (field.key == "Track ID" && is(field.value, "integer")) {
                        member.trackID = parsePlistInteger(leafText(field.value));
                    } else {
                        skip(field.value);
                    }
                });
                copyInto(layout.close, closing.lead, closing.begin);
                if (!first) {
                    out_.memberLayout_ = std::move(layout);
                    sawMemberLayout_ = true;
                }
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
    const std::string encoding = declaredEncoding(bytes);
    outline.asciiOnly_ = !encoding.empty() && encoding != "utf-8" && encoding != "utf8";
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
