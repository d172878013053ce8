#include "platform/foundation/internal/StringsTable.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "platform/foundation/UTF8.h"

namespace platform {
namespace {

// ---- encodings ----

// The text of a table file: UTF-16 after a byte-order mark, else UTF-8.
Result<std::u16string> decodeTable(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && ((byte(0) == 0xFE && byte(1) == 0xFF) || (byte(0) == 0xFF && byte(1) == 0xFE))) {
        const bool bigEndian = byte(0) == 0xFE;
        if (bytes.size() % 2 != 0) return Error{"the UTF-16 text ends in half a character"};
        std::u16string text;
        text.reserve(bytes.size() / 2 - 1);
        for (std::size_t i = 2; i < bytes.size(); i += 2) {
            const unsigned hi = bigEndian ? byte(i) : byte(i + 1);
            const unsigned lo = bigEndian ? byte(i + 1) : byte(i);
            text.push_back(static_cast<char16_t>(hi << 8 | lo));
        }
        return text;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    return utf8ToUTF16(decodeUTF8Lossy(bytes));
}

bool isSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v' || c == 0x2028 ||
           c == 0x2029;
}

// ---- the strings-file text ----

struct SyntaxError {
    std::string message;
    std::size_t at;
};

bool isPlain(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           std::u16string_view(u"_$+/:.-").find(c) != std::u16string_view::npos;
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

std::string describe(char16_t c) {
    if (c > 0x20 && c < 0x7F) return std::string("'") + static_cast<char>(c) + "'";
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
    return name;
}

class StringsText {
public:
    explicit StringsText(std::u16string_view text) : text_(text) {}

    StringsTable parse() {
        StringsTable table;
        skip();
        const bool braced = more() && text_[pos_] == u'{';
        if (braced) ++pos_;
        for (;;) {
            skip();
            if (!more()) {
                if (braced) fail("the '{' is never closed", pos_);
                return table;
            }
            if (braced && text_[pos_] == u'}') {
                ++pos_;
                skip();
                if (more()) fail("unexpected " + describe(text_[pos_]) + " after the closing '}'", pos_);
                return table;
            }
            std::u16string key = string("a key");
            skip();
            if (more() && text_[pos_] == u';') {
                ++pos_;
                std::u16string value = key;
                table.insert_or_assign(std::move(key), std::move(value));
                continue;
            }
            expect(u'=', "'=' or ';' after the key");
            skip();
            std::u16string value = string("a value");
            skip();
            expect(u';', "';' after the value");
            table.insert_or_assign(std::move(key), std::move(value));
        }
    }

private:
    bool more() const { return pos_ < text_.size(); }

    [[noreturn]] void fail(std::string message, std::size_t at) { throw SyntaxError{std::move(message), at}; }

    void expect(char16_t c, const char* what) {
        if (more() && text_[pos_] == c) {
            ++pos_;
            return;
        }
        fail(std::string("expected ") + what + (more() ? ", found " + describe(text_[pos_]) : " before the end"),
             pos_);
    }

    // White space and comments.
    void skip() {
        while (more()) {
            const char16_t c = text_[pos_];
            if (isSpace(c)) {
                ++pos_;
            } else if (c == u'/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == u'*') {
                const std::size_t end = text_.find(u"*/", pos_ + 2);
                if (end == std::u16string_view::npos) fail("the comment is never closed", pos_);
                pos_ = end + 2;
            } else if (c == u'/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == u'/') {
                const std::size_t end = text_.find(u'\n', pos_ + 2);
                pos_ = end == std::u16string_view::npos ? text_.size() : end + 1;
            } else {
                return;
            }
        }
    }

    std::u16string string(const char* what) {
        if (more() && text_[pos_] == u'"') return quoted();
        const std::size_t start = pos_;
        while (more() && isPlain(text_[pos_])) ++pos_;
        if (pos_ == start) {
            fail(std::string("expected ") + what + (more() ? ", found " + describe(text_[pos_]) : " before the end"),
                 pos_);
        }
        return std::u16string(text_.substr(start, pos_ - start));
    }

    std::u16string quoted() {
        const std::size_t start = pos_++;
        std::u16string out;
        for (;;) {
            if (!more()) fail("the string is never closed", start);
            const char16_t c = text_[pos_++];
            if (c == u'"') return out;
            if (c != u'\\') {
                out.push_back(c);
                continue;
            }
            if (!more()) fail("the string is never closed", start);
            const char16_t e = text_[pos_++];
            switch (e) {
            case u'n': out.push_back(u'\n'); break;
            case u't': out.push_back(u'\t'); break;
            case u'r': out.push_back(u'\r'); break;
            case u'a': out.push_back(u'\a'); break;
            case u'b': out.push_back(u'\b'); break;
            case u'f': out.push_back(u'\f'); break;
            case u'v': out.push_back(u'\v'); break;
            case u'U':
            case u'u': {
                unsigned unit = 0;
                int digits = 0;
                for (int d; digits < 4 && more() && (d = hexDigit(text_[pos_])) >= 0; ++digits, ++pos_) {
                    unit = unit * 16 + static_cast<unsigned>(d);
                }
                if (digits == 0) fail("\\U is not followed by hexadecimal digits", pos_ - 2);
                out.push_back(static_cast<char16_t>(unit));
                break;
            }
            default: out.push_back(e); break;  // \" \' \\ and any other character stand for themselves
            }
        }
    }

    std::u16string_view text_;
    std::size_t pos_ = 0;
};

std::size_t lineOf(std::u16string_view text, std::size_t at) {
    std::size_t line = 1;
    for (std::size_t i = 0; i < at && i < text.size(); ++i) line += text[i] == u'\n';
    return line;
}

// ---- the property-list form ----

struct FreeContext {
    void operator()(xmlParserCtxt* context) const noexcept { xmlFreeParserCtxt(context); }
};
struct FreeDocument {
    void operator()(xmlDoc* document) const noexcept { xmlFreeDoc(document); }
};

// libxml2's global state is set up once per process and never torn down:
// other code in the process may be using libxml2 too.
void initParser() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

bool named(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

std::string elementName(const xmlNode* node) { return "<" + std::string(reinterpret_cast<const char*>(node->name)) + ">"; }

Error plistError(const xmlNode* node, std::string message) {
    return Error{"line " + std::to_string(xmlGetLineNo(node)) + ": " + std::move(message)};
}

// The text inside <key> or <string>. Entities a document declares are not
// expanded (the parser already replaced the predefined ones and character
// references), so a table cannot grow by expansion.
Result<std::u16string> textOf(const xmlNode* element) {
    std::string utf8;
    for (const xmlNode* child = element->children; child; child = child->next) {
        switch (child->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            if (child->content) utf8 += reinterpret_cast<const char*>(child->content);
            break;
        case XML_COMMENT_NODE:
        case XML_PI_NODE: break;
        case XML_ENTITY_REF_NODE:
            return plistError(child, "entity '" + std::string(reinterpret_cast<const char*>(child->name)) +
                                         "' is not expanded in a strings table");
        default: return plistError(child, "unexpected " + elementName(child) + " inside " + elementName(element));
        }
    }
    return utf8ToUTF16(decodeUTF8Lossy(utf8));
}

// The element children of `parent`; any other non-blank content is an error.
Result<std::vector<const xmlNode*>> elementsOf(const xmlNode* parent) {
    std::vector<const xmlNode*> elements;
    for (const xmlNode* child = parent->children; child; child = child->next) {
        if (child->type == XML_ELEMENT_NODE) {
            elements.push_back(child);
        } else if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE ||
                    child->type == XML_ENTITY_REF_NODE) &&
                   !xmlIsBlankNode(child)) {
            return plistError(child, "unexpected text inside " + elementName(parent));
        }
    }
    return elements;
}

Result<StringsTable> parsePropertyList(std::string_view bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return Error{"the table is too large"};
    initParser();
    const std::unique_ptr<xmlParserCtxt, FreeContext> context(xmlNewParserCtxt());
    if (!context) throw std::bad_alloc();
    // Nothing from the network, no external DTD, no entity substitution,
    // and nothing printed: the caller reports the error.
    const std::unique_ptr<xmlDoc, FreeDocument> document(
        xmlCtxtReadMemory(context.get(), bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!document) {
        const xmlError* error = xmlCtxtGetLastError(context.get());
        std::string message = error && error->message ? error->message : "not well-formed XML";
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        return Error{"line " + std::to_string(error ? error->line : 0) + ": " + message};
    }
    const xmlNode* dict = xmlDocGetRootElement(document.get());
    if (dict && named(dict, "plist")) {
        Result<std::vector<const xmlNode*>> top = elementsOf(dict);
        if (!top) return top.error();
        dict = top.value().size() == 1 ? top.value().front() : nullptr;
    }
    if (!dict || !named(dict, "dict")) return Error{"the property list holds no dictionary"};

    Result<std::vector<const xmlNode*>> entries = elementsOf(dict);
    if (!entries) return entries.error();
    StringsTable table;
    const std::vector<const xmlNode*>& nodes = entries.value();
    for (std::size_t i = 0; i < nodes.size(); i += 2) {
        if (!named(nodes[i], "key")) return plistError(nodes[i], "expected <key>, found " + elementName(nodes[i]));
        if (i + 1 == nodes.size()) return plistError(nodes[i], "the last key has no value");
        if (!named(nodes[i + 1], "string")) {
            return plistError(nodes[i + 1], "the value is " + elementName(nodes[i + 1]) + ", not <string>");
        }
        Result<std::u16string> key = textOf(nodes[i]);
        if (!key) return key.error();
        Result<std::u16string> value = textOf(nodes[i + 1]);
        if (!value) return value.error();
        table.insert_or_assign(std::move(key).value(), std::move(value).value());
    }
    return table;
}

}  // namespace

Result<StringsTable> parseStringsTable(std::string_view bytes) {
    Result<std::u16string> decoded = decodeTable(bytes);
    if (!decoded) return decoded.error();
    const std::u16string& text = decoded.value();
    std::size_t first = 0;
    while (first < text.size() && isSpace(text[first])) ++first;
    if (first < text.size() && text[first] == u'<') return parsePropertyList(bytes);
    try {
        return StringsText(text).parse();
    } catch (const SyntaxError& error) {
        return Error{"line " + std::to_string(lineOf(text, error.at)) + ": " + error.message};
    }
}

}  // namespace platform
