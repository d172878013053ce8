#pragma once
// The events a property list is read as: the contract between what reads
// the XML (PlistScanner.h, for the export's own XML; PlistParser.h, for any
// XML, through libxml2) and what is made of it (LibraryBuilder.h).
//
// A source hands its handler the elements of one document, from the root
// <plist> down, in document order: element() at each start and
// elementEnd() at each end (an empty element gives both), and character
// data wherever wantsText() is true, in pieces as it comes: characters()
// with text that stays where it is until the source calls holdText(),
// which it does before it moves or reuses such text; decodedCharacters()
// with text valid for the call only. The source stops once stopped() is
// true. A handler sees nothing of where the events came from: whichever
// source reads a document, the handler makes the same of it.
//
// For an element that holds text alone (a key, string, integer, real,
// date, data, true or false) whose text is one piece where the source
// holds it, a source may call leaf() in place of the element's events: it
// does what element(), characters() where wantsText() is then true and
// the text is not empty, and elementEnd() do, each while not stopped().
//
// Calls come from the source's thread alone.

#include <string_view>

#include "platform/itlibrary/internal/XmlMarkup.h"

namespace platform {

class PlistHandler {
public:
    virtual ~PlistHandler() = default;

    virtual void element(PlistElement element) = 0;
    virtual void elementEnd() = 0;
    virtual void characters(std::string_view text) = 0;
    virtual void decodedCharacters(std::string_view text) = 0;
    virtual void holdText() = 0;
    virtual void leaf(PlistElement element, std::string_view text) {
        this->element(element);
        if (stopped_) return;
        if (wantsText_ && !text.empty()) characters(text);
        elementEnd();
    }
    // Flags the handler keeps and a source reads at every event, as plain
    // values rather than calls.
    bool wantsText() const noexcept { return wantsText_; }
    bool stopped() const noexcept { return stopped_; }

protected:
    bool wantsText_ = false;
    bool stopped_ = false;
};

}  // namespace platform
