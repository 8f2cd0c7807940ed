// Doubles of the host functions the plugin calls, keeping the host's
// conventions and recording what they receive; the character record; keys.
#include <cstring>

#include "standin_host/Standin.h"
#include "standin_host/StandinInternal.h"

namespace standin {
namespace {

// ---- State of the doubles ------------------------------------------------------
std::vector<AimFunctionCall> aimCalls;
std::vector<OffsetCall> offsetCalls;
std::vector<std::int32_t> characterLookups;
int frameCalls = 0;
long aimCallCount = 0;
long offsetCallCount = 0;
std::uint32_t frameResult = 0;
void* frameEntered = nullptr;  // events of a frame call held inside the frame function
void* frameRelease = nullptr;
const wchar_t* frameLibrary = nullptr;  // loaded and freed over and over while the frame is held
void* lookupResult = nullptr;
void* lookupEntered = nullptr;  // events of a character lookup held inside the lookup
void* lookupRelease = nullptr;
const wchar_t* lookupLibrary = nullptr;  // loaded and freed over and over while the lookup is held
void** lookupRecovery = nullptr;         // where the next lookup leaves to by longjmp
bool logEvents = true;

std::array<std::uint32_t, 3> BitsOf(const float* v) {
    std::array<std::uint32_t, 3> bits;
    std::memcpy(bits.data(), v, sizeof bits);
    return bits;
}

// A host function held up: waits for `release`, loading and freeing
// `library` over and over meanwhile when one is named (each load takes the
// loader lock, which an unload on another thread holds).
void HoldUntilReleased(void* release, const wchar_t* library) {
    if (!library) {
        WaitForSingleObject(release, INFINITE);
        return;
    }
    while (WaitForSingleObject(release, 0) == WAIT_TIMEOUT)
        if (HMODULE loaded = LoadLibraryW(library)) FreeLibrary(loaded);
}

std::uint32_t HOST_THISCALL AimFunctionDouble(void* object, const float* point, std::uint32_t arg2, std::uint32_t arg3,
                                              std::uint32_t arg4) {
    ++aimCallCount;
    if (logEvents)
        aimCalls.push_back({object, point, BitsOf(point), arg2, arg3, arg4});
    else
        aimCalls.back() = {object, point, BitsOf(point), arg2, arg3, arg4};
    LogEvent("host 0x521500");
    return kAimFunctionResult + static_cast<std::uint32_t>(aimCalls.size());
}

void HOST_THISCALL OffsetToPointDouble(void* character, float* point, const float* offset) {
    ++offsetCallCount;
    OffsetCall call{character, BitsOf(offset), {}};
    for (int i = 0; i < 3; ++i) call.point[i] = kCharacterPosition[i] + offset[i];
    std::memcpy(point, call.point.data(), sizeof call.point);
    if (logEvents)
        offsetCalls.push_back(call);
    else
        offsetCalls.back() = call;
    LogEvent("host 0x5334F0");
}

void* HOST_CDECL CharacterLookupDouble(std::int32_t which) {
    if (logEvents) characterLookups.push_back(which);
    if (void* entered = InterlockedExchangePointer(&lookupEntered, nullptr)) {
        SetEvent(entered);
        HoldUntilReleased(lookupRelease, lookupLibrary);
        lookupLibrary = nullptr;
    }
    if (void** recovery =
            static_cast<void**>(InterlockedExchangePointer(reinterpret_cast<void**>(&lookupRecovery), nullptr)))
        __builtin_longjmp(recovery, 1);
    return lookupResult;
}

std::uint32_t FrameFunctionDouble() {
    ++frameCalls;
    if (void* entered = InterlockedExchangePointer(&frameEntered, nullptr)) {
        SetEvent(entered);
        HoldUntilReleased(frameRelease, frameLibrary);
        frameLibrary = nullptr;
    }
    LogEvent("host frame function");
    return frameResult;
}

}  // namespace

void LogEvent(const char* text) {
    if (logEvents) Events().push_back(text);
}

Doubles ResetDoubles() {
    aimCalls.clear();
    offsetCalls.clear();
    characterLookups.clear();
    frameCalls = 0;
    aimCallCount = 0;
    offsetCallCount = 0;
    frameResult = 0x00F4A3E0;
    Events().clear();
    logEvents = true;
    aimCalls.reserve(64);
    offsetCalls.reserve(64);
    Character().Clear();
    lookupResult = Character().Address();
    return {reinterpret_cast<const void*>(&AimFunctionDouble), reinterpret_cast<const void*>(&OffsetToPointDouble),
            reinterpret_cast<const void*>(&CharacterLookupDouble), reinterpret_cast<const void*>(&FrameFunctionDouble)};
}

const std::vector<AimFunctionCall>& AimFunctionCalls() {
    return aimCalls;
}
const std::vector<OffsetCall>& OffsetCalls() {
    return offsetCalls;
}
const std::vector<std::int32_t>& CharacterLookups() {
    return characterLookups;
}
int HostFrameFunctionCalls() {
    return frameCalls;
}
long HostAimFunctionCallCount() {
    return aimCallCount;
}
long HostOffsetCallCount() {
    return offsetCallCount;
}
void HoldNextHostFrame(void* entered, void* release) {
    frameRelease = release;
    InterlockedExchangePointer(&frameEntered, entered);
}
void HoldNextHostFrameLoadingLibrary(void* entered, void* release, const wchar_t* library) {
    frameLibrary = library;
    HoldNextHostFrame(entered, release);
}
void HoldNextCharacterLookup(void* entered, void* release, const wchar_t* library) {
    lookupRelease = release;
    lookupLibrary = library;
    InterlockedExchangePointer(&lookupEntered, entered);
}
void LeaveNextCharacterLookupTo(void** recovery) {
    InterlockedExchangePointer(reinterpret_cast<void**>(&lookupRecovery), recovery);
}
void SetHostFrameResult(std::uint32_t value) {
    frameResult = value;
}
void LogHostEvents(bool on) {
    logEvents = on;
    // Without the log the doubles overwrite their last record in place.
    if (!on && aimCalls.empty()) aimCalls.push_back({});
    if (!on && offsetCalls.empty()) offsetCalls.push_back({});
}
std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}

// ---- Character record -----------------------------------------------------------
void CharacterRecord::Clear() {
    bytes_.fill(0);
}
void CharacterRecord::SetState(std::uint32_t state) {
    std::memcpy(&bytes_[host::kRecordStateWord], &state, 4);
}
void CharacterRecord::SetCurrentSlot(std::uint8_t slot) {
    bytes_[host::kRecordCurrentSlot] = slot;
}
void CharacterRecord::SetWeaponType(std::uint8_t slot, std::uint32_t code) {
    std::memcpy(&bytes_[host::kRecordWeaponSlots + host::kWeaponSlotSize * slot + host::kSlotWeaponType], &code, 4);
}
void CharacterRecord::SetWeapon(std::uint32_t code) {
    SetState(0);
    SetCurrentSlot(0);
    SetWeaponType(0, code);
}
CharacterRecord& Character() {
    static CharacterRecord record;
    return record;
}
void SetCharacterLookupResult(void* record) {
    lookupResult = record;
}

// ---- Keys -------------------------------------------------------------------------
void SetKeys(bool rightButton, bool space) {
    BYTE state[256];
    GetKeyboardState(state);
    state[VK_RBUTTON] = rightButton ? 0x80 : 0;
    state[VK_SPACE] = space ? 0x80 : 0;
    SetKeyboardState(state);
}

}  // namespace standin
