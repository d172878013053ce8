#pragma once
// The converter from an opened music library to the library document, and
// the document itself: the library together with the facts taken when the
// export began. Its JSON text is written from the library's objects
// (DocumentText.h) whenever it is asked for, the same bytes for one layout
// each time; nothing of it is held as JSON values.
//
// readLibrary is a template over the library it reads, so any object that
// offers the library's properties serves (the tests feed fakes). Writing a
// document only reads it and its library, from two threads at once (see
// write): reading the library must be thread-safe, as the library reader's
// objects are. Its texts may be written on several threads at once too.
// Copies of a document share its library.

#include <functional>
#include <memory>
#include <utility>

#include "export/DocumentText.h"
#include "export/JsonText.h"
#include "export/OrderedPieces.h"
#include "export/Utils.h"
#include "platform/foundation/Date.h"

namespace harmonode {

// The moment a document is made, its "create_ts": the clock's time, or the
// time fixed by fixDocumentCreationTime.
platform::Date documentCreationTime() noexcept;

// Makes every later document's creation time `time`, for tests that compare
// whole documents byte for byte.
void fixDocumentCreationTime(platform::Date time) noexcept;

class LibraryDocument {
public:
    // The document of `library` with `facts`; the library lives as long as
    // the document (and its copies).
    template <class Library>
    LibraryDocument(std::unique_ptr<Library> library, const DocumentFacts& facts)
        : write_([library = std::shared_ptr<const Library>(std::move(library)), facts](JsonLayout layout,
                                                                                      const RoomSink& sink) {
              const DocumentPlan plan(*library);
              const auto& pieces = plan.pieces();
              writeInOrder(
                  pieces.size(),
                  [&](std::size_t piece, std::string& room) {
                      DocumentWriter writer(layout, room);
                      writer.piece(*library, facts, pieces[piece]);
                      return writer.text().size();
                  },
                  sink);
          }) {}

    // Writes the document's text in `layout` to `sink`, piece by piece in
    // order, the pieces made on two threads (OrderedPieces.h); `sink` is
    // called on the calling thread alone.
    void write(JsonLayout layout, const RoomSink& sink) const { write_(layout, sink); }
    void write(JsonLayout layout, const JsonSink& sink) const {
        write_(layout, [&](std::string& room, std::size_t length) { sink(std::string_view(room.data(), length)); });
    }

private:
    std::function<void(JsonLayout, const RoomSink&)> write_;
};

class ITunesToJSON {
public:
    // The document of `library`, which the caller has opened and reloaded
    // and hands over: its "create_ts" is now and its "hashValue" the
    // library's hash. Reports no errors; what the library does not know is
    // left out of the text.
    template <class Library>
    LibraryDocument readLibrary(std::unique_ptr<Library> library) const {
        const std::int64_t hashValue = library->hash();
        return LibraryDocument(std::move(library), {millisecondsSince1970(documentCreationTime()), hashValue});
    }
};

}  // namespace harmonode
