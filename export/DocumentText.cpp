#include "export/DocumentText.h"

#include <cstring>
#include <string>

#include "export/TrackElementMap.h"

namespace harmonode::detail {

namespace {

TrackKeyTexts makeTrackKeyTexts(JsonLayout layout) {
    TrackKeyTexts texts;
    for (std::uint64_t raw = 0; raw < kTrackElemCount; ++raw) {
        const TrackElem e = static_cast<TrackElem>(raw);
        const TrackElement& element = getTrackElement(e);
        HARMONODE_ASSERT(element.elem() == e);
        std::string lead;
        JsonTextOutput out(lead);
        // Track records stand at depth 2, their members at depth 3.
        if (layout == JsonLayout::pretty) out.newline(3);
        out.string(element.name());
        out.raw(layout == JsonLayout::pretty ? " : " : ":");
        out.finish();
        HARMONODE_ASSERT(lead.size() <= TrackKeyTexts::Lead::kRoom);
        std::memcpy(texts.lead[raw].text, lead.data(), lead.size());
        texts.lead[raw].size = static_cast<std::uint8_t>(lead.size());
        texts.boolean[raw] = element.typ() == TrackClz::kBool;
    }
    return texts;
}

}  // namespace

const TrackKeyTexts& trackKeyTexts(JsonLayout layout) {
    static const TrackKeyTexts compact = makeTrackKeyTexts(JsonLayout::compact);
    static const TrackKeyTexts pretty = makeTrackKeyTexts(JsonLayout::pretty);
    return layout == JsonLayout::pretty ? pretty : compact;
}

}  // namespace harmonode::detail
