#pragma once
// The catalogue of track fields: one `TrackElement` per `TrackElem`.
//
// `getTrackElement` reaches the process-wide catalogue, built on first use
// under a one-time guard and read-only afterwards, so any thread may read
// it. A `TrackElementMap` object of one's own is not thread-safe to modify.

#include <unordered_map>

#include "export/TrackElement.h"
#include "export/TrackElementEnum.h"

namespace harmonode {

class TrackElementMap {
public:
    using Map = std::unordered_map<TrackElem, TrackElement>;

    // Fills the catalogue: one entry per identifier, in identifier order.
    TrackElementMap();

    const Map& trackElementMap() const noexcept { return trackElementMap_; }
    Map& trackElementMap() noexcept { return trackElementMap_; }
    void setTrackElementMap(Map map) { trackElementMap_ = std::move(map); }

    // Stores the descriptor under `elem`, replacing an earlier one.
    void add(TrackElem elem, std::string name, std::string displayName, TrackClz typ, std::int64_t id);

    // The descriptor stored under `elem`; it must exist. The reference
    // stays valid until the entry is replaced or the map destroyed.
    const TrackElement& get(TrackElem elem) const;

private:
    Map trackElementMap_;
};

// The descriptor of `elem` in the process-wide catalogue (built on first
// use; lives until the process ends).
const TrackElement& getTrackElement(TrackElem elem);

}  // namespace harmonode
