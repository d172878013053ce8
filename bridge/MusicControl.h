#pragma once
// Control of the music application through the handle `itunes`: importing
// a file, deleting a track by persistent ID, the track list. None of them
// fails or reports the application's outcome; each writes its progress
// line. Bridge thread only; each call blocks until the application has
// answered.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/scripting/SBApplication.h"

namespace harmonode {

// Writes "add " and the path, asks the music application to import the
// file (a relative path is taken against the working directory), and gives
// "testing...", whatever the application did.
std::string addFile(std::string_view path);

// addFile for the first of `paths` (one at least), importing all of them
// with one request to the application, so with one save of the library;
// writes the first path's progress line alone, as the others' belong to
// requests not yet answered (see addedFile).
std::string addFiles(const std::vector<std::string>& paths);

// Writes "add " and the path of a file that addFiles imported, and gives
// "testing...", as addFile would have.
std::string addedFile(std::string_view path);

// Writes "delete track " and the ID's 16-digit text, and deletes the track
// with that persistent ID when exactly one track has it.
void deleteTrack(std::uint64_t persistentID);

// Writes "testSBTracks" and gives the music application's tracks.
platform::SBElementArray testSBTracks();

}  // namespace harmonode
