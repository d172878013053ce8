#include "export/ITunesToJSON.h"

#include <optional>

namespace harmonode {
namespace {

std::optional<platform::Date> fixedCreationTime;  // set by fixDocumentCreationTime

}  // namespace

platform::Date documentCreationTime() noexcept { return fixedCreationTime ? *fixedCreationTime : platform::Date::now(); }

void fixDocumentCreationTime(platform::Date time) noexcept { fixedCreationTime = time; }

}  // namespace harmonode
