#include "export/ITunesToJSON.h"

#include "export/Assert.h"
#include "export/DocumentArena.h"

namespace harmonode {
namespace {

template <class... Visitors>
struct Overloaded : Visitors... {
    using Visitors::operator()...;
};
// Not every compiler deduces an aggregate's arguments on its own yet.
template <class... Visitors>
Overloaded(Visitors...) -> Overloaded<Visitors...>;

std::optional<platform::Date> fixedCreationTime;  // set by fixDocumentCreationTime

}  // namespace

platform::Date documentCreationTime() noexcept { return fixedCreationTime ? *fixedCreationTime : platform::Date::now(); }

void fixDocumentCreationTime(platform::Date time) noexcept { fixedCreationTime = time; }

ITunesToJSON::ITunesToJSON()
    : filePathTrackElem_(getTrackElement(TrackElem::kFilePath)),
      // The document is built once and dropped whole: an arena serves it.
      arena_(makeDocumentArena()),
      storage_(arena_.get()) {}

void ITunesToJSON::add(TrackElem e, const std::optional<TrackValue>& obj, boost::json::object& track) const {
    const TrackElement& element = getTrackElement(e);
    HARMONODE_ASSERT(element.elem() == e);
    if (!obj || std::holds_alternative<std::monostate>(*obj)) return;
    if (element.typ() == TrackClz::kBool) HARMONODE_ASSERT(std::holds_alternative<bool>(*obj));
    const std::string& key = element.name();

    if (e == TrackElem::kPersistentID) {
        // The persistent ID is written as its text, never as the number.
        HARMONODE_ASSERT(std::holds_alternative<std::uint64_t>(*obj));
        track.insert_or_assign(key, pidText(std::get<std::uint64_t>(*obj)).view());
        return;
    }

    std::visit(Overloaded{
                   [](std::monostate) {},
                   [&](bool value) { track.insert_or_assign(key, value); },
                   [&](std::int64_t value) { track.insert_or_assign(key, value); },
                   [&](std::uint64_t value) { track.insert_or_assign(key, value); },
                   [&](std::string_view value) { track.insert_or_assign(key, value); },
                   [&](const platform::Date& value) { track.insert_or_assign(key, millisecondsSince1970(value)); },
                   [&](std::reference_wrapper<const platform::URL> value) {
                       HARMONODE_ASSERT(e == TrackElem::kLocation);
                       const platform::URL& url = value.get();
                       track.insert_or_assign(key, url.absoluteString());
                       if (url.isFileURL()) track.insert_or_assign(filePathTrackElem_.name(), url.path());
                   },
                   [&](const AlbumValue& album) {
                       if (album.title) track.insert_or_assign(key, *album.title);
                   },
                   [&](const ArtistValue& artist) {
                       if (artist.name) track.insert_or_assign(key, *artist.name);
                   },
                   [&](platform::ITLibMediaItemMediaKind kind) {
                       track.insert_or_assign(key, static_cast<std::uint64_t>(kind));
                   },
                   [&](platform::ITLibMediaItemLocationType type) { track.insert_or_assign(key, description(type)); },
                   [&](platform::ITLibMediaItemPlayStatus status) { track.insert_or_assign(key, description(status)); },
                   [](const platform::ITLibMediaItemVideoInfo&) {},
               },
               *obj);
}

void ITunesToJSON::putFolder(boost::json::object& document, const std::optional<platform::URL>& folder,
                             std::string_view locationKey, std::string_view pathKey) const {
    if (!folder) return;
    document.emplace(locationKey, folder->absoluteString());
    document.emplace(pathKey, folder->path());
}

}  // namespace harmonode
