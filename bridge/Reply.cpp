#include "bridge/Reply.h"

#include <boost/json/serialize.hpp>

namespace harmonode {

bool Reply::writeCompact(const JsonSink& sink) const {
    if (library_) {
        library_->write(JsonLayout::compact, sink);
        return true;
    }
    // Checked first, so the text is never cut short or bad.
    if (!checkJSON(json_)) return false;
    sink(boost::json::serialize(json_));
    return true;
}

}  // namespace harmonode
