#pragma once
// The Apple Event Manager: descriptors, Apple events and sending them to a
// process addressed by its process serial number.
//
// A descriptor (AEDesc, and AppleEvent, which is one) is a plain value that
// owns its data until AEDisposeDesc; copying the struct does not copy the
// data, so exactly one copy is disposed of. A null descriptor has type
// typeNull and no data.
//
// There are no other processes to deliver to on this platform. A host that
// wants events for a process honoured registers a receiver for that
// process's serial number (AEInstallProcessReceiver); an event sent to a
// serial number without a receiver answers procNotFound. None is registered
// by default, so nothing is ever delivered (a restart request, say) unless a
// host asked for it. The registry is one per process (this is a shared
// library). All functions are thread-safe and throw nothing; no lock is held
// while a receiver runs.

#include <cstdint>
#include <functional>

#include "platform/coreservices/MacErrors.h"

namespace platform {

using FourCharCode = std::uint32_t;
using DescType = FourCharCode;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;
using AEReturnID = std::int16_t;
using AETransactionID = std::int32_t;
using AESendMode = std::int32_t;
using Size = long;

inline constexpr OSErr errAEEventFailed = -10000;
inline constexpr OSErr errAEUnknownAddressType = -1716;

inline constexpr FourCharCode fourCharCode(const char (&code)[5]) {
    return static_cast<FourCharCode>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<FourCharCode>(static_cast<unsigned char>(code[3]));
}

inline constexpr DescType typeNull = fourCharCode("null");
inline constexpr DescType typeAppleEvent = fourCharCode("aevt");
inline constexpr DescType typeProcessSerialNumber = fourCharCode("psn ");
inline constexpr AEEventClass kCoreEventClass = fourCharCode("aevt");
inline constexpr AEEventID kAERestart = fourCharCode("rest");
inline constexpr AEEventID kAEShutDown = fourCharCode("shut");
inline constexpr AEReturnID kAutoGenerateReturnID = -1;
inline constexpr AETransactionID kAnyTransactionID = 0;
inline constexpr AESendMode kAENoReply = 1;
inline constexpr AESendMode kAEQueueReply = 2;
inline constexpr AESendMode kAEWaitReply = 3;
inline constexpr long kAEDefaultTimeout = -1;

struct ProcessSerialNumber {
    std::uint32_t highLongOfPSN;
    std::uint32_t lowLongOfPSN;
};
inline constexpr std::uint32_t kSystemProcess = 1;

struct AEDescData;  // owned by the descriptor
struct AEDesc {
    DescType descriptorType = typeNull;
    AEDescData* dataHandle = nullptr;
};
using AEAddressDesc = AEDesc;
using AppleEvent = AEDesc;

// A descriptor of `typeCode` holding a copy of `dataSize` bytes at `dataPtr`
// (typeNull: no data). paramErr for a null result, a negative size or null
// data of a positive size; `*result` is a null descriptor on failure.
PLATFORM_CORESERVICES_API OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize,
                                             AEDesc* result) noexcept;

// An Apple event of `theAEEventClass` and `theAEEventID` for `target` (copied
// into the event). kAutoGenerateReturnID gets a return ID unique in this
// process.
PLATFORM_CORESERVICES_API OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID,
                                                   const AEAddressDesc* target, AEReturnID returnID,
                                                   AETransactionID transactionID, AppleEvent* result) noexcept;

// Frees the descriptor's data and makes it a null descriptor.
PLATFORM_CORESERVICES_API OSErr AEDisposeDesc(AEDesc* theAEDesc) noexcept;

// The size of the descriptor's data, and a copy of at most `maximumSize` of
// its bytes. An Apple event's content is read with AEGetEventAttributes.
PLATFORM_CORESERVICES_API Size AEGetDescDataSize(const AEDesc* theAEDesc) noexcept;
PLATFORM_CORESERVICES_API OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize) noexcept;

// What an Apple event holds, for receivers.
struct AEEventAttributes {
    AEEventClass eventClass = 0;
    AEEventID eventID = 0;
    DescType targetType = typeNull;
    ProcessSerialNumber target{};  // when targetType is typeProcessSerialNumber
    AEReturnID returnID = 0;
    AETransactionID transactionID = 0;
};
// paramErr when `event` is not an Apple event.
PLATFORM_CORESERVICES_API OSErr AEGetEventAttributes(const AppleEvent* event, AEEventAttributes* attributes) noexcept;

// Sends `event` to the process its target names and returns what that
// process's receiver answered. The target must be a process serial number
// (errAEUnknownAddressType otherwise); procNotFound when no receiver is
// registered for it; errAEEventFailed when the receiver throws. `reply`, when
// given, becomes a null descriptor: receivers give no reply data here.
PLATFORM_CORESERVICES_API OSStatus AESendMessage(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode,
                                                 long timeOutInTicks) noexcept;

// A process's handling of the events sent to it: the event, the send mode
// and the timeout; its result is the sender's status.
using AEProcessReceiver = std::function<OSErr(const AppleEvent& event, AESendMode sendMode, long timeOutInTicks)>;

// Registers `receiver` for the process `psn`, in place of any before; an
// empty receiver removes the registration. memFullErr when out of memory.
PLATFORM_CORESERVICES_API OSErr AEInstallProcessReceiver(const ProcessSerialNumber& psn,
                                                         AEProcessReceiver receiver) noexcept;

}  // namespace platform
