#pragma once
// JSON text of JSON values, compact (one line, no blanks between tokens) or
// pretty (one member or element per line, two blanks of indentation per
// level, " : " between a key and its value).
//
// The text is always valid UTF-8: a value holding a string that is not
// valid UTF-8, or a number that is not finite, cannot be written and gives
// an error instead. Line feeds and other control characters inside strings
// are written escaped, so compact text never holds a line break. Members
// are written in the order the object holds them. Pure; thread-safe.

#include <functional>
#include <string>
#include <string_view>

#include <boost/json/value.hpp>

#include "platform/foundation/Error.h"

namespace harmonode {

enum class JsonLayout { compact, pretty };

// The JSON text of a value as one string.
platform::Result<std::string> serializeJSON(const boost::json::value& value, JsonLayout layout);
platform::Result<std::string> serializeJSON(const boost::json::object& object, JsonLayout layout);

// Receives the text in pieces of about a megabyte, in order.
using JsonSink = std::function<void(std::string_view)>;

// Streams the JSON text of `object` into `sink` without holding it whole.
// `object` must have passed checkJSON: it is not checked again here.
void streamJSON(const boost::json::object& object, JsonLayout layout, const JsonSink& sink);

// Whether `value` can be written as JSON text, without writing it.
platform::Status checkJSON(const boost::json::value& value);
platform::Status checkJSON(const boost::json::object& object);

}  // namespace harmonode
