#pragma once
// A text made in pieces on two threads at once and handed on in order.
//
// writeInOrder makes pieces 0 to count - 1 with `make` and hands each to
// `sink` in that order, from the calling thread alone. The pieces are made
// on the calling thread and on one thread of its own (the caller's alone
// where no thread can be started), at most kAhead of them ahead of the one
// the sink was handed last, each in a room of its own that is lent again
// once the sink has had its piece: so the memory a text takes is bounded.
// The rooms are kept for the texts that follow (a few megabytes for the
// process's life), so those touch no fresh memory for them.
//
// `make(i, room)` writes piece i at the start of `room` (which it may grow;
// its size is the room there is, not the text) and gives its length; it is
// called on both threads at once, for different pieces. A RoomSink is
// handed the room itself and may keep it (JsonText.h). An exception from
// `make` or from `sink` stops the making and is thrown again from
// writeInOrder once the thread of its own has stopped; the pieces after
// the last one handed on are then not handed on.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "export/JsonText.h"

namespace harmonode {

using PieceMaker = std::function<std::size_t(std::size_t piece, std::string& room)>;

inline constexpr std::size_t kAhead = 8;

void writeInOrder(std::size_t count, const PieceMaker& make, const RoomSink& sink);
void writeInOrder(std::size_t count, const PieceMaker& make, const JsonSink& sink);

}  // namespace harmonode
