#include "platform/coreservices/AppleEvents.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

struct platform::AEDescData {
    std::vector<std::uint8_t> bytes;
    AEEventAttributes event;  // of an Apple event
};

namespace platform {
namespace {

struct Receivers {
    std::mutex mutex;
    std::map<std::pair<std::uint32_t, std::uint32_t>, AEProcessReceiver> byProcess;
};

Receivers& receivers() {
    static Receivers* instance = new Receivers;  // outlives every static destructor
    return *instance;
}

AEReturnID newReturnID() {
    static std::atomic<std::uint32_t> last{0};
    return static_cast<AEReturnID>(last.fetch_add(1) % 32767 + 1);
}

}  // namespace

OSErr AECreateDesc(DescType typeCode, const void* dataPtr, Size dataSize, AEDesc* result) noexcept {
    if (!result) return paramErr;
    *result = AEDesc{};
    if (dataSize < 0 || (dataSize > 0 && !dataPtr)) return paramErr;
    if (typeCode == typeNull) return noErr;
    auto* data = new (std::nothrow) AEDescData;
    if (!data) return memFullErr;
    try {
        const auto* bytes = static_cast<const std::uint8_t*>(dataPtr);
        data->bytes.assign(bytes, bytes + dataSize);
    } catch (...) {
        delete data;
        return memFullErr;
    }
    *result = AEDesc{typeCode, data};
    return noErr;
}

OSErr AECreateAppleEvent(AEEventClass theAEEventClass, AEEventID theAEEventID, const AEAddressDesc* target,
                         AEReturnID returnID, AETransactionID transactionID, AppleEvent* result) noexcept {
    if (!result) return paramErr;
    *result = AEDesc{};
    if (!target) return paramErr;
    AEEventAttributes event;
    event.eventClass = theAEEventClass;
    event.eventID = theAEEventID;
    event.targetType = target->descriptorType;
    if (event.targetType == typeProcessSerialNumber) {
        if (AEGetDescDataSize(target) != sizeof(ProcessSerialNumber)) return paramErr;
        std::memcpy(&event.target, target->dataHandle->bytes.data(), sizeof(ProcessSerialNumber));
    }
    event.returnID = returnID == kAutoGenerateReturnID ? newReturnID() : returnID;
    event.transactionID = transactionID;
    auto* data = new (std::nothrow) AEDescData;
    if (!data) return memFullErr;
    data->event = event;
    *result = AEDesc{typeAppleEvent, data};
    return noErr;
}

OSErr AEDisposeDesc(AEDesc* theAEDesc) noexcept {
    if (!theAEDesc) return paramErr;
    delete theAEDesc->dataHandle;
    *theAEDesc = AEDesc{};
    return noErr;
}

Size AEGetDescDataSize(const AEDesc* theAEDesc) noexcept {
    if (!theAEDesc || !theAEDesc->dataHandle) return 0;
    return static_cast<Size>(theAEDesc->dataHandle->bytes.size());
}

OSErr AEGetDescData(const AEDesc* theAEDesc, void* dataPtr, Size maximumSize) noexcept {
    if (!theAEDesc || maximumSize < 0 || (maximumSize > 0 && !dataPtr)) return paramErr;
    const Size size = std::min(maximumSize, AEGetDescDataSize(theAEDesc));
    if (size > 0) std::memcpy(dataPtr, theAEDesc->dataHandle->bytes.data(), static_cast<std::size_t>(size));
    return noErr;
}

OSErr AEGetEventAttributes(const AppleEvent* event, AEEventAttributes* attributes) noexcept {
    if (!event || !attributes || event->descriptorType != typeAppleEvent || !event->dataHandle) return paramErr;
    *attributes = event->dataHandle->event;
    return noErr;
}

OSStatus AESendMessage(const AppleEvent* event, AppleEvent* reply, AESendMode sendMode,
                       long timeOutInTicks) noexcept {
    if (reply) *reply = AEDesc{};
    AEEventAttributes attributes;
    if (const OSErr status = AEGetEventAttributes(event, &attributes)) return status;
    if (attributes.targetType != typeProcessSerialNumber) return errAEUnknownAddressType;
    try {
        AEProcessReceiver receiver;
        {
            Receivers& r = receivers();
            const std::lock_guard lock(r.mutex);
            const auto found = r.byProcess.find({attributes.target.highLongOfPSN, attributes.target.lowLongOfPSN});
            if (found == r.byProcess.end()) return procNotFound;
            receiver = found->second;
        }
        return receiver(*event, sendMode, timeOutInTicks);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    } catch (...) {
        return errAEEventFailed;
    }
}

OSErr AEInstallProcessReceiver(const ProcessSerialNumber& psn, AEProcessReceiver receiver) noexcept {
    try {
        Receivers& r = receivers();
        const std::lock_guard lock(r.mutex);
        const std::pair key{psn.highLongOfPSN, psn.lowLongOfPSN};
        if (receiver) {
            r.byProcess.insert_or_assign(key, std::move(receiver));
        } else {
            r.byProcess.erase(key);
        }
        return noErr;
    } catch (...) {
        return memFullErr;
    }
}

}  // namespace platform
