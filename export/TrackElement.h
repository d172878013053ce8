#pragma once
// The descriptor of one track field: the key its value is written under,
// its identifier, display name, declared value class and numeric id.
// An immutable value type.

#include <cstdint>
#include <string>

#include "export/TrackElementEnum.h"

namespace harmonode {

class TrackElement {
public:
    TrackElement(TrackElem elem, std::string name, std::string displayName, TrackClz typ, std::int64_t id)
        : name_(std::move(name)), elem_(elem), displayName_(std::move(displayName)), typ_(typ), id_(id) {}

    const std::string& name() const noexcept { return name_; }
    TrackElem elem() const noexcept { return elem_; }
    const std::string& displayName() const noexcept { return displayName_; }
    TrackClz typ() const noexcept { return typ_; }
    std::int64_t id() const noexcept { return id_; }

    // "<name> <elem case name> <typ case name>", e.g. "Size kSize kLong".
    std::string description() const;

private:
    std::string name_;
    TrackElem elem_;
    std::string displayName_;
    TrackClz typ_;
    std::int64_t id_;
};

}  // namespace harmonode
