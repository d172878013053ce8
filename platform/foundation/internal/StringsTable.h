#pragma once
// The reader of a bundle's string tables (`<table>.strings`). Internal to the
// bundle stand-in; the system's code reaches tables through NSBundle only.
//
// A table is either the platform's strings-file text or an XML property list
// whose top-level dictionary maps keys to strings. The bytes are UTF-8 (a
// UTF-8 byte-order mark is skipped; ill-formed bytes become U+FFFD) or
// UTF-16 with a byte-order mark in either byte order. The strings-file text:
//
//     /* a comment */  // a comment to the end of the line
//     "key" = "value";
//     plain_key = plain.value;     (unquoted: letters, digits and _$+/:.-)
//     "key alone";                 (the value is the key)
//
// optionally wrapped in one pair of braces. Quoted strings take the escapes
// \" \' \\ \n \t \r \a \b \f \v and \U (or \u) with one to four hexadecimal
// digits giving one UTF-16 code unit; any other escaped character stands for
// itself. A key given twice keeps its last value. Pure functions, safe to
// call from any thread.

#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/foundation/Error.h"

namespace platform {

using StringsTable = std::unordered_map<std::u16string, std::u16string>;

// The entries of a table file's bytes, or an error that says what is wrong
// and on which line (for the property-list form, the XML parser's message).
// An empty file is an empty table. Throws only std::bad_alloc.
Result<StringsTable> parseStringsTable(std::string_view bytes);

}  // namespace platform
