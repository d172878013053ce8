#include "platform/itlibrary/internal/PlistScanner.h"

namespace platform {

PlistElement plistElementNamed(std::string_view name) noexcept {
    using E = PlistElement;
    if (name.empty()) return E::Other;
    const std::string_view rest = name.substr(1);
    switch (name[0]) {
        case 'a': return rest == "rray" ? E::Array : E::Other;
        case 'd': return rest == "ict" ? E::Dict : rest == "ate" ? E::Date : rest == "ata" ? E::Data : E::Other;
        case 'f': return rest == "alse" ? E::False : E::Other;
        case 'i': return rest == "nteger" ? E::Integer : E::Other;
        case 'k': return rest == "ey" ? E::Key : E::Other;
        case 'p': return rest == "list" ? E::Plist : E::Other;
        case 'r': return rest == "eal" ? E::Real : E::Other;
        case 's': return rest == "tring" ? E::String : E::Other;
        case 't': return rest == "rue" ? E::True : E::Other;
        default: return E::Other;
    }
}

}  // namespace platform
