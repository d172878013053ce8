#include "bridge/Reply.h"

namespace harmonode {

bool Reply::writeCompact(const JsonSink& sink) const {
    if (library_) {
        library_->write(JsonLayout::compact, sink);
        return true;
    }
    // Checked first, so the text is never cut short.
    if (!checkJSON(json_->json())) return false;
    streamJSON(json_->json(), JsonLayout::compact, sink);
    return true;
}

}  // namespace harmonode
