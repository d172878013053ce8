#include "export/TrackElementEnum.h"

#include <array>

namespace harmonode {

std::string_view caseName(TrackClz clz) noexcept {
    switch (clz) {
        case TrackClz::kDate: return "kDate";
        case TrackClz::kInt: return "kInt";
        case TrackClz::kString: return "kString";
        case TrackClz::kBool: return "kBool";
        case TrackClz::kLong: return "kLong";
        case TrackClz::kITunesMediaKind: return "kITunesMediaKind";
    }
    return {};
}

std::string_view caseName(TrackElem elem) noexcept {
    static constexpr std::array<std::string_view, kTrackElemCount> kNames = {
#define HARMONODE_TRACK_ELEM_NAME(name) #name,
        HARMONODE_TRACK_ELEMS(HARMONODE_TRACK_ELEM_NAME)
#undef HARMONODE_TRACK_ELEM_NAME
    };
    return kNames[rawValue(elem)];
}

}  // namespace harmonode
