#pragma once
// The memory a library document is built in, and the document that owns it.
//
// A document arena is a monotonic arena (the whole document is dropped at
// once) whose blocks are large, aligned to 2 MiB and marked for transparent
// huge pages where the system offers them, so that building a document of
// 100,000 tracks takes few page faults. Values built in it hold a plain,
// uncounted pointer to it that knows its deallocation is a no-op, so
// building them counts no references and dropping them walks nothing. Thread-safe to create; each arena belongs to
// one document and is used by one thread.

#include <memory>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/object.hpp>

namespace harmonode {

std::unique_ptr<boost::json::monotonic_resource> makeDocumentArena();

// A JSON dictionary together with the arena it lives in (none for one in
// the ordinary heap); they are dropped together, the dictionary first.
// Move-only, and never assigned: assigning would copy across arenas.
class JsonDocument {
public:
    JsonDocument(boost::json::object json) : json_(std::move(json)) {}
    JsonDocument(std::unique_ptr<boost::json::monotonic_resource> arena, boost::json::object json)
        : arena_(std::move(arena)), json_(std::move(json)) {}
    JsonDocument(JsonDocument&&) noexcept = default;
    JsonDocument& operator=(JsonDocument&&) = delete;

    const boost::json::object& json() const noexcept { return json_; }
    boost::json::object& json() noexcept { return json_; }

private:
    std::unique_ptr<boost::json::monotonic_resource> arena_;  // outlives json_
    boost::json::object json_;
};

}  // namespace harmonode
