#include "platform/coreservices/AppleEvents.h"

#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

constexpr ProcessSerialNumber kSystem{0, kSystemProcess};

OSStatus send(ProcessSerialNumber psn, AEEventID id, AEDesc* reply = nullptr) {
    AEAddressDesc target;
    if (const OSErr status = AECreateDesc(typeProcessSerialNumber, &psn, sizeof psn, &target)) return status;
    AppleEvent event;
    const OSErr created = AECreateAppleEvent(kCoreEventClass, id, &target, kAutoGenerateReturnID,
                                             kAnyTransactionID, &event);
    AEDisposeDesc(&target);
    if (created) return created;
    const OSStatus sent = AESendMessage(&event, reply, kAENoReply, kAEDefaultTimeout);
    AEDisposeDesc(&event);
    return sent;
}

struct Seen {
    AEEventAttributes attributes;
    AESendMode mode;
    long timeout;
};

TEST(AppleEvents, ReachOnlyTheReceiverOfTheirProcess) {
    EXPECT_EQ(send(kSystem, kAERestart), procNotFound) << "nothing is registered by default";

    std::vector<Seen> seen;
    OSErr answer = noErr;
    ASSERT_EQ(AEInstallProcessReceiver(kSystem, [&](const AppleEvent& event, AESendMode mode, long timeout) {
                  Seen s{{}, mode, timeout};
                  EXPECT_EQ(AEGetEventAttributes(&event, &s.attributes), noErr);
                  seen.push_back(s);
                  return answer;
              }),
              noErr);
    EXPECT_EQ(send({0, 2}, kAERestart), procNotFound) << "another process";
    AEDesc reply{typeProcessSerialNumber, nullptr};
    EXPECT_EQ(send(kSystem, kAERestart, &reply), noErr);
    EXPECT_EQ(reply.descriptorType, typeNull);
    answer = -1;
    EXPECT_EQ(send(kSystem, kAEShutDown), -1) << "the receiver's answer is the sender's status";
    EXPECT_EQ(AESendMessage(&reply, nullptr, kAENoReply, kAEDefaultTimeout), paramErr) << "not an Apple event";
    ASSERT_EQ(seen.size(), 2u);
    const AEEventAttributes& restart = seen[0].attributes;
    EXPECT_EQ(restart.eventClass, fourCharCode("aevt"));
    EXPECT_EQ(restart.eventID, fourCharCode("rest"));
    EXPECT_EQ(restart.targetType, typeProcessSerialNumber);
    EXPECT_EQ(restart.target.highLongOfPSN, 0u);
    EXPECT_EQ(restart.target.lowLongOfPSN, kSystemProcess);
    EXPECT_GT(restart.returnID, 0) << "generated";
    EXPECT_NE(seen[1].attributes.returnID, restart.returnID);
    EXPECT_EQ(restart.transactionID, kAnyTransactionID);
    EXPECT_EQ(seen[0].mode, kAENoReply);
    EXPECT_EQ(seen[0].timeout, kAEDefaultTimeout);

    ASSERT_EQ(AEInstallProcessReceiver(kSystem, [](const AppleEvent&, AESendMode, long) -> OSErr {
                  throw std::runtime_error("receiver failed");
              }),
              noErr);
    EXPECT_EQ(send(kSystem, kAERestart), errAEEventFailed);
    ASSERT_EQ(AEInstallProcessReceiver(kSystem, nullptr), noErr);
    EXPECT_EQ(send(kSystem, kAERestart), procNotFound);
}

}  // namespace
}  // namespace platform
