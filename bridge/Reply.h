#pragma once
// What the command loop answers a request with: a JSON dictionary, or the
// library document, whose text is written straight from its library. Owns
// what it holds. Bridge thread only.

#include <optional>

#include <boost/json/object.hpp>

#include "export/ITunesToJSON.h"
#include "export/JsonText.h"

namespace harmonode {

class Reply {
public:
    Reply(boost::json::object json) : json_(std::move(json)) {}
    Reply(LibraryDocument library) : library_(std::move(library)) {}

    // The dictionary, or none for the library document.
    const boost::json::object* json() const noexcept { return library_ ? nullptr : &json_; }

    // Writes the reply as compact JSON text into `sink`; false, with nothing
    // written, when it cannot be text.
    bool writeCompact(const JsonSink& sink) const;

private:
    boost::json::object json_;
    std::optional<LibraryDocument> library_;
};

}  // namespace harmonode
