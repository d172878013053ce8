#include "export/OrderedPieces.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace harmonode {
namespace {

// A piece's text, made after a pause that differs from piece to piece, so
// that the two threads finish their pieces out of order.
std::size_t slowPiece(std::size_t piece, std::string& room) {
    std::this_thread::sleep_for(std::chrono::microseconds((piece * 7919) % 13 * 50));
    const std::string text = std::to_string(piece) + ",";
    if (room.size() < text.size()) room.resize(text.size());
    room.replace(0, text.size(), text);
    return text.size();
}

TEST(WriteInOrder, PiecesReachTheSinkInOrderWithFewAhead) {
    for (const std::size_t count : {0, 1, 2, 9, 200}) {
        std::string expected, text;
        for (std::size_t i = 0; i < count; ++i) expected += std::to_string(i) + ",";
        std::atomic<std::size_t> handed{0};
        std::atomic<bool> tooFarAhead{false};
        std::set<const char*> rooms;
        writeInOrder(
            count,
            [&](std::size_t piece, std::string& room) {
                if (piece >= handed + kAhead) tooFarAhead = true;
                return slowPiece(piece, room);
            },
            [&](std::string_view piece) {
                rooms.insert(piece.data());
                text += piece;
                ++handed;
            });
        EXPECT_EQ(text, expected) << count << " pieces";
        EXPECT_FALSE(tooFarAhead) << count << " pieces";
        EXPECT_LE(rooms.size(), kAhead) << "rooms are lent again";
    }
}

TEST(WriteInOrder, ASinkMayKeepTheRoomsItIsHanded) {
    std::vector<std::string> kept;
    std::string text;
    writeInOrder(100, slowPiece, RoomSink([&](std::string& room, std::size_t length) {
                     text.append(room, 0, length);
                     kept.push_back(std::move(room));
                     room = "?";  // a room too small for the next piece
                 }));
    std::string expected;
    for (int i = 0; i < 100; ++i) expected += std::to_string(i) + ",";
    EXPECT_EQ(text, expected);
    EXPECT_EQ(kept.size(), 100u);
}

TEST(WriteInOrder, AFailureStopsTheTextAndIsThrownAgain) {
    for (int round = 0; round < 20; ++round) {
        const std::size_t failing = 3 + round % 5;
        std::string text;
        const auto make = [&](std::size_t piece, std::string& room) {
            if (piece == failing) throw std::runtime_error("make failed");
            return slowPiece(piece, room);
        };
        EXPECT_THROW(writeInOrder(50, make, [&](std::string_view piece) { text += piece; }), std::runtime_error);
        std::string before;  // the pieces before the one that failed, some of which may have been handed on
        for (std::size_t i = 0; i < failing; ++i) before += std::to_string(i) + ",";
        EXPECT_TRUE(before.starts_with(text)) << text;

        std::size_t handed = 0;
        EXPECT_THROW(writeInOrder(50, slowPiece,
                                  [&](std::string_view) {
                                      if (++handed == failing) throw std::length_error("sink failed");
                                  }),
                     std::length_error);
        EXPECT_EQ(handed, failing);
    }
}

}  // namespace
}  // namespace harmonode
