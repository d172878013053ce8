#include "export/TrackElement.h"

namespace harmonode {

std::string TrackElement::description() const {
    std::string text = name_;
    text += ' ';
    text += caseName(elem_);
    text += ' ';
    text += caseName(typ_);
    return text;
}

}  // namespace harmonode
