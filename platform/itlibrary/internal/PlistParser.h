#pragma once
// The XML parser's way through a library file: libxml2's SAX2 push parser,
// which reads any XML, handing its handler the events of PlistEvents.h. It
// decides every file that the scanner (PlistScanner.h) does not read, and
// words every error: XML that is malformed, at its line and column; a root
// element other than <plist>; memory running out.
//
// The parser never loads anything from outside the file and expands no
// entity the document declares: a reference to one is refused as
// malformed. A reference to an entity the document does not declare, which
// its external DTD (never read) might, is handed on as written. Input is
// cleaned text (XmlByteCleaner.h), read as UTF-8 whatever encoding the
// document declares, in pieces cut anywhere; the declarations before the
// root element are parsed at once, once they are whole. All text goes to
// decodedCharacters(). One parser per document; not thread-safe.

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "platform/foundation/Error.h"
#include "platform/itlibrary/internal/PlistEvents.h"
#include "platform/itlibrary/internal/XmlProlog.h"

struct _xmlParserCtxt;
struct _xmlError;

namespace platform {

class PlistParser {
public:
    // A parser of the library file `name`. Throws std::bad_alloc.
    PlistParser(PlistHandler& handler, std::string_view name);
    PlistParser(const PlistParser&) = delete;
    PlistParser& operator=(const PlistParser&) = delete;
    ~PlistParser();

    // Room for `size` more bytes of text, to be written there and then
    // parsed with scan(). Throws std::bad_alloc.
    char* space(std::size_t size);

    // Parses the `size` bytes written into space(); `last` ends the text.
    // False once the document failed: the handler stopped, or error() says
    // why.
    bool scan(std::size_t size, bool last);
    Error error() const;

private:
    // Runs `call` on the parser that `self` is, from one of its callbacks.
    template <class Call>
    static void guarded(void* self, Call&& call) noexcept;
    bool parse(std::string_view text, bool end);
    // libxml2's xmlChar is unsigned char.
    void start(const unsigned char* name, const unsigned char* prefix);
    void reference(std::string_view name);
    void parseError(const _xmlError& error);
    PlistElement elementNamed(const unsigned char* name) noexcept;
    // Stops the parser: the document failed as `failure` says, or (none) a
    // callback could not allocate.
    void fail(std::optional<Error> failure) noexcept;

    PlistHandler& handler_;
    std::string name_;
    struct FreeParser {
        void operator()(_xmlParserCtxt* parser) const noexcept;
    };
    std::unique_ptr<_xmlParserCtxt, FreeParser> parser_;
    std::unique_ptr<char[]> buffer_;  // the text handed in, until it is parsed
    std::size_t capacity_ = 0;
    XmlPrologLexer prologLexer_;
    bool prologRead_ = false;
    std::string prolog_;  // the prolog, held back until it is whole
    std::optional<Error> failure_;  // a root that is no <plist>, or an entity refused
    bool outOfMemory_ = false;      // a callback could not allocate
    // The first fatal error the parser reported: its position and its text.
    struct ParseError {
        int code = 0, line = 0, column = 0;
        std::string message;
    } parseError_;
    int endLine_ = 1, endColumn_ = 1;  // where the text handed to the parser so far ends
    bool endAfterReturn_ = false;      // the text so far ends in a carriage return
    std::unordered_set<std::string> declaredEntities_;  // general entities the document type declares
    bool sawRootElement_ = false;
    std::array<std::pair<const unsigned char*, PlistElement>, 16> elementNames_{};  // see elementNamed()
};

}  // namespace platform
