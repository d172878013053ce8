#include "platform/itlibrary/internal/PlistParser.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <new>

#include "platform/itlibrary/internal/ReadErrors.h"

namespace platform {
namespace {

// What the parser does and never does: nothing from the network, no
// external DTD (no XML_PARSE_DTDLOAD) and no entity substitution (no
// XML_PARSE_NOENT; entities the document declares are refused, see
// PlistParser::reference), text nodes of any length, and the document read
// as the UTF-8 the cleaner hands on, whatever encoding it declares.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_IGNORE_ENC;

// libxml2's global state is set up once per process. xmlCleanupParser is
// never called: other code in the process may be using libxml2 too.
void initParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// The structured error callback's argument became const in libxml2 2.12.
#if LIBXML_VERSION >= 21200
using ErrorArgument = const xmlError*;
#else
using ErrorArgument = xmlError*;
#endif

const char* chars(const xmlChar* text) noexcept { return reinterpret_cast<const char*>(text); }

std::string refusedEntity(std::string_view name) {
    std::string text = "Entity '";
    text += name;
    text += "' is declared in the document type; entities a document declares are not expanded";
    return text;
}

}  // namespace

// The parser calls back through C frames: nothing may be thrown across
// them, so each callback turns an allocation failure into a stopped parser.
template <class Call>
void PlistParser::guarded(void* self, Call&& call) noexcept {
    auto& parser = *static_cast<PlistParser*>(self);
    try {
        call(parser);
    } catch (...) {
        parser.fail(std::nullopt);
    }
}

PlistParser::PlistParser(PlistHandler& handler, std::string_view name) : handler_(handler), name_(name) {
    initParser();
    xmlSAXHandler sax{};
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = [](void* self, const xmlChar* name, const xmlChar* prefix, const xmlChar*, int,
                            const xmlChar**, int, int, const xmlChar**) {
        guarded(self, [&](PlistParser& parser) { parser.start(name, prefix); });
    };
    sax.endElementNs = [](void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
        guarded(self, [](PlistParser& parser) { parser.handler_.elementEnd(); });
    };
    // Blank text between elements goes to the same callback, which spares
    // the parser working out whether it could be ignored.
    sax.characters = sax.ignorableWhitespace = [](void* self, const xmlChar* text, int length) {
        guarded(self, [&](PlistParser& parser) {
            if (!parser.handler_.wantsText()) return;
            parser.handler_.decodedCharacters(std::string_view(chars(text), static_cast<std::size_t>(length)));
        });
    };
    sax.reference = [](void* self, const xmlChar* name) {
        guarded(self, [&](PlistParser& parser) { parser.reference(chars(name)); });
    };
    sax.entityDecl = [](void* self, const xmlChar* name, int type, const xmlChar*, const xmlChar*, xmlChar*) {
        // Parameter entities are never expanded, and never met in content.
        if (type != XML_INTERNAL_GENERAL_ENTITY && type != XML_EXTERNAL_GENERAL_PARSED_ENTITY &&
            type != XML_EXTERNAL_GENERAL_UNPARSED_ENTITY) {
            return;
        }
        guarded(self, [&](PlistParser& parser) { parser.declaredEntities_.emplace(chars(name)); });
    };
    sax.serror = [](void* self, ErrorArgument error) {
        // Warnings and recoverable errors (a namespace prefix never bound, a
        // reference to an entity an unread external DTD may declare) leave
        // the document readable; the first fatal error is the one to report.
        if (error == nullptr || error->level != XML_ERR_FATAL) return;
        guarded(self, [&](PlistParser& parser) {
            if (parser.parseError_.code == 0) parser.parseError(*error);
        });
    };
    parser_.reset(xmlCreatePushParserCtxt(&sax, this, nullptr, 0, nullptr));
    if (parser_ == nullptr) throw std::bad_alloc();
    xmlCtxtUseOptions(parser_.get(), kParseOptions);
}

PlistParser::~PlistParser() = default;

void PlistParser::FreeParser::operator()(_xmlParserCtxt* parser) const noexcept {
    // An entity declaration makes the parser keep a document of its own
    // for it, which is the caller's to free.
    if (parser->myDoc != nullptr) xmlFreeDoc(parser->myDoc);
    xmlFreeParserCtxt(parser);
}

char* PlistParser::space(std::size_t size) {
    if (size > capacity_) {
        capacity_ = std::max(size, 2 * capacity_);
        buffer_ = std::make_unique_for_overwrite<char[]>(capacity_);
    }
    return buffer_.get();
}

bool PlistParser::scan(std::size_t size, bool last) {
    const std::string_view text(buffer_.get(), size);
    if (prologRead_) return parse(text, last);
    // The parser judges whether a declaration before the root element is
    // complete by looking for a ">", which a quoted literal may hold: it is
    // handed the whole prolog at once, never a piece of it.
    prolog_.append(text);
    if (prologLexer_.scan(text) == XmlPrologLexer::kNotYet && !last) return true;
    prologRead_ = true;
    const std::string prolog = std::move(prolog_);
    prolog_ = std::string();
    return parse(prolog, last);
}

bool PlistParser::parse(std::string_view text, bool end) {
    constexpr std::size_t kMostAtOnce = std::size_t{1} << 30;  // the parser counts bytes in an int
    // Where the text ends, counted as the parser counts: lines end at a
    // line feed, a carriage return or both, columns count characters.
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (c == '\r' || !endAfterReturn_) ++endLine_;
            endColumn_ = 1;
            endAfterReturn_ = c == '\r';
        } else {
            endAfterReturn_ = false;
            if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++endColumn_;
        }
    }
    do {
        const std::string_view piece = text.substr(0, kMostAtOnce);
        text.remove_prefix(piece.size());
        const bool terminate = end && text.empty();
        const int status = xmlParseChunk(parser_.get(), piece.data(), static_cast<int>(piece.size()), terminate ? 1 : 0);
        if (status != XML_ERR_OK || failure_ || outOfMemory_ || handler_.stopped()) return false;
    } while (!text.empty());
    return true;
}

Error PlistParser::error() const {
    if (failure_) return *failure_;
    if (outOfMemory_ || parseError_.code == XML_ERR_NO_MEMORY) return outOfMemoryError(name_);
    if (parseError_.code == 0) {  // stopped without saying why
        return malformedError(name_, xmlSAX2GetLineNumber(parser_.get()), xmlSAX2GetColumnNumber(parser_.get()),
                              "error " + std::to_string(parser_->errNo));
    }
    // Lines are those of the file. Columns count characters from 1 and are
    // where the parser noticed the error, mostly just after the offending
    // markup; they match the file's except after a surrogate pair written
    // as two character references on the same line, which the cleaner has
    // joined into one character.
    return malformedError(name_, parseError_.line, parseError_.column, parseError_.message);
}

void PlistParser::fail(std::optional<Error> failure) noexcept {
    if (failure && !failure_) {
        failure_ = std::move(failure);
    } else if (!failure) {
        outOfMemory_ = true;
    }
    xmlStopParser(parser_.get());
}

void PlistParser::start(const unsigned char* name, const unsigned char* prefix) {
    // A prefixed name is none of the property list's elements.
    const PlistElement element = prefix == nullptr ? elementNamed(name) : PlistElement::Other;
    if (!sawRootElement_) {
        sawRootElement_ = true;
        if (element != PlistElement::Plist) {
            const std::string qualified =
                prefix != nullptr ? std::string(chars(prefix)) + ':' + chars(name) : std::string(chars(name));
            return fail(notALibraryError(name_, "its root element is <" + qualified + ">, not <plist>"));
        }
    }
    handler_.element(element);
    if (handler_.stopped()) xmlStopParser(parser_.get());
}

void PlistParser::parseError(const _xmlError& error) {
    parseError_.code = error.code;
    parseError_.line = error.line;
    parseError_.column = error.int2;
    std::string_view message = error.message != nullptr ? error.message : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.remove_suffix(1);
    switch (error.code) {
        case XML_ERR_DOCUMENT_EMPTY:  // what the push parser says of a file of plain text
            parseError_.message = "Start tag expected, '<' not found";
            return;
        case XML_ERR_DOCUMENT_END:
            // At the end of the input the push parser calls an unfinished
            // document "extra content"; say that it was cut short.
            if (parser_->nameNr > 0 && parser_->name != nullptr) {
                parseError_.message = std::string("Premature end of data in tag ") + chars(parser_->name);
                // The data ended where the file did. (The parser may tell
                // where an unfinished CDATA section began instead, or a
                // place between, depending on how the text came in pieces.)
                parseError_.line = endLine_;
                parseError_.column = endColumn_;
                return;
            }
            if (!sawRootElement_) {
                parseError_.message = "Premature end of data before the root element";
                return;
            }
            break;
        case XML_ERR_UNDECLARED_ENTITY:
            if (error.str1 != nullptr && declaredEntities_.contains(error.str1)) {
                parseError_.message = refusedEntity(error.str1);
                return;
            }
            break;
        default:
            break;
    }
    parseError_.message = message;
}

// A reference to an entity the parser does not know, in a document whose
// external DTD (never read) might declare it: handed on as written, so
// nothing of the text is lost. One the document declares itself is
// refused, as the parser refuses it in a document without an external DTD.
void PlistParser::reference(std::string_view name) {
    if (declaredEntities_.contains(std::string(name))) {
        return fail(malformedError(name_, xmlSAX2GetLineNumber(parser_.get()), xmlSAX2GetColumnNumber(parser_.get()),
                                   refusedEntity(name)));
    }
    if (!handler_.wantsText()) return;
    handler_.decodedCharacters("&");
    handler_.decodedCharacters(name);
    handler_.decodedCharacters(";");
}

// The parser hands on each element name as the one string its dictionary
// keeps for that name, so a name's kind is looked up by its address once
// it has been classified.
PlistElement PlistParser::elementNamed(const unsigned char* name) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(name);
    const std::size_t slot = static_cast<std::size_t>((address * 0x9E3779B97F4A7C15ull) >> 60);
    auto& [cached, element] = elementNames_[slot];
    if (cached != name) {
        cached = name;
        element = plistElementNamed(chars(name));
    }
    return element;
}

}  // namespace platform
