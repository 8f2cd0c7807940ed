#include "standin_host/standin.h"

#include <cstring>
#include <stdexcept>

#include "codepatch/branch.h"

namespace standin {
namespace {

// ---- Machine code of the host routines -------------------------------------
// Sentinels the routines put into the callee-saved registers before the call.
constexpr std::uint32_t kEbxSentinel = 0xB1B1B1B1;
constexpr std::uint32_t kEsiSentinel = 0x51515151;
constexpr std::uint32_t kEdiSentinel = 0xD1D1D1D1;
constexpr std::uint32_t kEbpSentinel = 0xBEBEBEBE;

// Offsets in a call frame block (kAimCallFrame, kFrameCallFrame).
// clang-format off
enum FrameField : std::uint32_t {
    kObject = 0, kArg1 = 4, kArg2 = 8, kArg3 = 12, kArg4 = 16, kResult = 20,
    kEspBefore = 24, kEspAfter = 28, kEbxAfter = 32, kEsiAfter = 36, kEdiAfter = 40,
    kEbpAfter = 44,
};
// clang-format on

class Code {
public:
    void Byte(std::uint8_t b) { bytes_.push_back(b); }
    void Bytes(std::initializer_list<std::uint8_t> bs) { bytes_.insert(bytes_.end(), bs); }
    void Word(std::uint32_t w) {
        for (int i = 0; i < 4; ++i) Byte(static_cast<std::uint8_t>(w >> (8 * i)));
    }
    std::size_t Size() const { return bytes_.size(); }
    std::vector<std::uint8_t>& Bytes() { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

// A routine `void routine()` whose E8 call to `callee` lies exactly at
// `callSite`. It keeps the callee-saved registers of its own caller, loads
// the sentinels, pushes `pushedArgs` words from the frame block (last first),
// optionally loads ECX from it, calls, and records EAX, the callee-saved
// registers and ESP in the frame block before it restores its caller's state.
std::uint32_t PlaceRoutine(std::uint32_t callSite, std::uint32_t callee, std::uint32_t frame, int pushedArgs,
                           bool thisCall) {
    // clang-format off
    Code pre;
    pre.Bytes({0x55, 0x53, 0x56, 0x57});                // push ebp/ebx/esi/edi
    pre.Bytes({0x89, 0x25}); pre.Word(frame + kEspBefore);  // mov [f.espBefore], esp
    for (int i = pushedArgs; i >= 1; --i) {
        pre.Bytes({0xFF, 0x35}); pre.Word(frame + kObject + 4u * static_cast<std::uint32_t>(i));  // push dword [f.argN]
    }
    if (thisCall) { pre.Bytes({0x8B, 0x0D}); pre.Word(frame + kObject); }  // mov ecx, [f.object]
    pre.Byte(0xBB); pre.Word(kEbxSentinel);  // mov ebx, imm32
    pre.Byte(0xBE); pre.Word(kEsiSentinel);  // mov esi, imm32
    pre.Byte(0xBF); pre.Word(kEdiSentinel);  // mov edi, imm32
    pre.Byte(0xBD); pre.Word(kEbpSentinel);  // mov ebp, imm32

    Code call;
    call.Byte(codepatch::kOpCallRel32);  // E8 rel32 at the host's call site
    call.Word(codepatch::relative_displacement(callSite, callee));
    call.Byte(0xA3); call.Word(frame + kResult);                 // mov [f.result], eax
    call.Bytes({0x89, 0x1D}); call.Word(frame + kEbxAfter);      // mov [..], ebx
    call.Bytes({0x89, 0x35}); call.Word(frame + kEsiAfter);      // mov [..], esi
    call.Bytes({0x89, 0x3D}); call.Word(frame + kEdiAfter);      // mov [..], edi
    call.Bytes({0x89, 0x2D}); call.Word(frame + kEbpAfter);      // mov [..], ebp
    call.Bytes({0x89, 0x25}); call.Word(frame + kEspAfter);      // mov [..], esp
    call.Bytes({0x8B, 0x25}); call.Word(frame + kEspBefore);     // mov esp, [f.espBefore]
    call.Bytes({0x5F, 0x5E, 0x5B, 0x5D, 0xC3});                   // pop edi/esi/ebx/ebp; ret

    // clang-format on
    const std::uint32_t start = callSite - static_cast<std::uint32_t>(pre.Size());
    WriteHostBytes(start, pre.Bytes().data(), pre.Size());
    WriteHostBytes(callSite, call.Bytes().data(), call.Size());
    return start;
}

void PlaceJump(std::uint32_t from, const void* to) {
    std::uint8_t jump[5] = {codepatch::kOpJmpRel32};  // E9 rel32
    const std::uint32_t rel =
        codepatch::relative_displacement(from, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(to)));
    std::memcpy(jump + 1, &rel, 4);
    WriteHostBytes(from, jump, sizeof jump);
}

// The call frame blocks lie in plain read-write host data: no protection
// change on the way, so that a host call costs what the host's code costs.
volatile std::uint32_t* FrameBlock(std::uint32_t frame) {
    return reinterpret_cast<volatile std::uint32_t*>(static_cast<std::uintptr_t>(frame));
}

HostCallOutcome RunRoutine(std::uint32_t routine, std::uint32_t frame) {
    reinterpret_cast<void (*)()>(static_cast<std::uintptr_t>(routine))();
    volatile std::uint32_t* f = FrameBlock(frame);
    HostCallOutcome outcome;
    outcome.result = f[kResult / 4];
    outcome.stackBalanced = f[kEspAfter / 4] == f[kEspBefore / 4];
    outcome.registersPreserved = f[kEbxAfter / 4] == kEbxSentinel && f[kEsiAfter / 4] == kEsiSentinel &&
                                 f[kEdiAfter / 4] == kEdiSentinel && f[kEbpAfter / 4] == kEbpSentinel;
    return outcome;
}

// ---- State of the doubles ------------------------------------------------------
std::uint32_t aimRoutine = 0;
std::uint32_t frameRoutine = 0;
std::vector<AimFunctionCall> aimCalls;
std::vector<OffsetCall> offsetCalls;
std::vector<std::int32_t> characterLookups;
int frameCalls = 0;
std::uint32_t frameResult = 0;
void* lookupResult = nullptr;
bool logEvents = true;

void LogEvent(const char* text) {
    if (logEvents) Events().push_back(text);
}

std::array<std::uint32_t, 3> BitsOf(const float* v) {
    std::array<std::uint32_t, 3> bits;
    std::memcpy(bits.data(), v, sizeof bits);
    return bits;
}

std::uint32_t HOST_THISCALL AimFunctionDouble(void* object, const float* point, std::uint32_t arg2, std::uint32_t arg3,
                                              std::uint32_t arg4) {
    if (logEvents)
        aimCalls.push_back({object, point, BitsOf(point), arg2, arg3, arg4});
    else
        aimCalls.back() = {object, point, BitsOf(point), arg2, arg3, arg4};
    LogEvent("host 0x521500");
    return kAimFunctionResult + static_cast<std::uint32_t>(aimCalls.size());
}

void HOST_THISCALL OffsetToPointDouble(void* character, float* point, const float* offset) {
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
    return lookupResult;
}

std::uint32_t FrameFunctionDouble() {
    ++frameCalls;
    LogEvent("host frame function");
    return frameResult;
}

// Copies `size` bytes between host memory at `address` and `other`, lifting
// the host bytes' protection for the copy (the stand-in's own brackets).
void CopyHostBytes(std::uint32_t address, void* other, std::size_t size, bool toHost) {
    void* at = reinterpret_cast<void*>(static_cast<std::uintptr_t>(address));
    DWORD old = 0;
    const bool lifted = VirtualProtect(at, size, PAGE_EXECUTE_READWRITE, &old) != 0;
    if (toHost)
        std::memcpy(at, other, size);
    else
        std::memcpy(other, at, size);
    if (lifted) VirtualProtect(at, size, old, &old);
}

std::array<std::uint8_t, 5> CallBytes(std::uint32_t site, std::uint32_t callee) {
    std::array<std::uint8_t, 5> bytes{codepatch::kOpCallRel32};
    const std::uint32_t rel = codepatch::relative_displacement(site, callee);
    std::memcpy(bytes.data() + 1, &rel, 4);
    return bytes;
}

}  // namespace

// ---- Host image -------------------------------------------------------------------
void WriteHostBytes(std::uint32_t address, const void* bytes, std::size_t size) {
    CopyHostBytes(address, const_cast<void*>(bytes), size, true);
}
void WriteHostWord(std::uint32_t address, std::uint32_t value) {
    WriteHostBytes(address, &value, 4);
}
std::vector<std::uint8_t> ReadHostBytes(std::uint32_t address, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    CopyHostBytes(address, bytes.data(), size, false);
    return bytes;
}
std::uint32_t ReadHostWord(std::uint32_t address) {
    std::uint32_t value;
    CopyHostBytes(address, &value, 4, false);
    return value;
}

void WriteBuildProbes(std::int32_t build) {
    for (const host::BuildProbe& probe : host::kBuildProbes) WriteHostWord(probe.address, 0);
    for (const host::BuildProbe& probe : host::kBuildProbes)
        if (probe.build == build) {
            WriteHostWord(probe.address, probe.expected);
            break;
        }
}

std::array<std::uint8_t, 5> OriginalAimCallBytes() {
    return CallBytes(host::kAimPointCallSite, host::kAimPointFunction);
}
std::array<std::uint8_t, 5> OriginalFrameCallBytes() {
    return CallBytes(host::kFrameCallSite, kHostFrameFunction);
}

void ResetHost(std::int32_t build) {
    WriteBuildProbes(build);
    aimRoutine = PlaceRoutine(host::kAimPointCallSite, host::kAimPointFunction, kAimCallFrame, 4, true);
    frameRoutine = PlaceRoutine(host::kFrameCallSite, kHostFrameFunction, kFrameCallFrame, 0, false);
    PlaceJump(host::kAimPointFunction, reinterpret_cast<const void*>(&AimFunctionDouble));
    PlaceJump(host::kOffsetToPointFunction, reinterpret_cast<const void*>(&OffsetToPointDouble));
    PlaceJump(host::kCharacterLookupFunction, reinterpret_cast<const void*>(&CharacterLookupDouble));
    PlaceJump(kHostFrameFunction, reinterpret_cast<const void*>(&FrameFunctionDouble));
    WriteHostWord(host::kAimCodeConstant, kCodeConstantFill);
    std::vector<std::uint32_t> fill((host::kAimBlock + host::kAimBlockBytes - host::kAimFloat8CC4A0) / 4, kDataFill);
    WriteHostBytes(host::kAimFloat8CC4A0, fill.data(), fill.size() * 4);
    aimCalls.clear();
    offsetCalls.clear();
    characterLookups.clear();
    frameCalls = 0;
    frameResult = 0x00F4A3E0;
    Events().clear();
    logEvents = true;
    aimCalls.reserve(64);
    offsetCalls.reserve(64);
    Character().Clear();
    Counters() = PluginCounters{};
    lookupResult = Character().Address();
    SetKeys(false, false);
}

HostCallOutcome RunHostAimCall(const AimCallArgs& args) {
    const std::uint32_t words[5] = {static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(args.object)),
                                    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(args.point)), args.arg2,
                                    args.arg3, args.arg4};
    volatile std::uint32_t* f = FrameBlock(kAimCallFrame);
    for (int i = 0; i < 5; ++i) f[i] = words[i];
    return RunRoutine(aimRoutine, kAimCallFrame);
}

HostCallOutcome RunHostFrame() {
    return RunRoutine(frameRoutine, kFrameCallFrame);
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

// ---- Modules ------------------------------------------------------------------------
namespace standin {
namespace {

bool SameText(const char* a, const char* b) {
    return lstrcmpiA(a, b) == 0;
}

template <typename T>
T* AtRva(HMODULE module, DWORD rva) {
    return reinterpret_cast<T*>(reinterpret_cast<std::uint8_t*>(module) + rva);
}

// Counting pass-throughs for the plugin's imports.
using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);
using ReallocFn = void* (*)(void*, std::size_t);
using CreateFileAFn = HANDLE(WINAPI*)(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using GetKeyStateFn = SHORT(WINAPI*)(int);
using GetModuleHandleExAFn = BOOL(WINAPI*)(DWORD, LPCSTR, HMODULE*);
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);

MallocFn realMalloc = nullptr;
CallocFn realCalloc = nullptr;
ReallocFn realRealloc = nullptr;
CreateFileAFn realCreateFileA = nullptr;
GetKeyStateFn realGetKeyState = nullptr;
GetModuleHandleExAFn realGetModuleHandleExA = nullptr;
MessageBoxAFn realMessageBoxA = nullptr;
bool failModuleLookup = false;

void* CountingMalloc(std::size_t n) {
    ++Counters().allocations;
    return realMalloc(n);
}
void* CountingCalloc(std::size_t n, std::size_t m) {
    ++Counters().allocations;
    return realCalloc(n, m);
}
void* CountingRealloc(void* p, std::size_t n) {
    ++Counters().allocations;
    return realRealloc(p, n);
}
HANDLE WINAPI CountingCreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                                  DWORD flags, HANDLE tmpl) {
    const std::size_t n = name ? std::strlen(name) : 0;
    static const char kName[] = "aimingSets.dat";
    if (n >= sizeof kName - 1 && SameText(name + n - (sizeof kName - 1), kName)) ++Counters().settingsOpens;
    return realCreateFileA(name, access, share, sa, disposition, flags, tmpl);
}
SHORT WINAPI CountingGetKeyState(int key) {
    LogEvent("GetKeyState");
    return realGetKeyState(key);
}

BOOL WINAPI CountingGetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module) {
    ++Counters().moduleLookups;
    if (failModuleLookup) {
        if (module) *module = nullptr;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return realGetModuleHandleExA(flags, name, module);
}
int WINAPI RecordingMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    Counters().messageBoxes.push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
}

template <typename Fn>
void Interpose(HMODULE module, const char* dll, const char* function, Fn replacement, Fn& real) {
    void* previous = ReplaceImport(module, dll, function, reinterpret_cast<void*>(replacement));
    if (previous && previous != reinterpret_cast<void*>(replacement)) real = reinterpret_cast<Fn>(previous);
}

void InstrumentPlugin(HMODULE module) {
    Interpose(module, "msvcrt.dll", "malloc", &CountingMalloc, realMalloc);
    Interpose(module, "msvcrt.dll", "calloc", &CountingCalloc, realCalloc);
    Interpose(module, "msvcrt.dll", "realloc", &CountingRealloc, realRealloc);
    Interpose(module, "kernel32.dll", "CreateFileA", &CountingCreateFileA, realCreateFileA);
    Interpose(module, "user32.dll", "GetKeyState", &CountingGetKeyState, realGetKeyState);
    Interpose(module, "kernel32.dll", "GetModuleHandleExA", &CountingGetModuleHandleExA, realGetModuleHandleExA);
    Interpose(module, "user32.dll", "MessageBoxA", &RecordingMessageBoxA, realMessageBoxA);
}

// The loader's notification arrives once a module is mapped and its imports
// are bound, before its initialisers run: the moment to instrument it.
struct UnicodeString {
    USHORT length, maximumLength;
    PWSTR buffer;
};
struct DllNotificationData {
    ULONG flags;
    const UnicodeString* fullName;
    const UnicodeString* baseName;
    void* base;
    ULONG size;
};
using DllNotification = VOID(CALLBACK*)(ULONG reason, const DllNotificationData* data, PVOID context);
using RegisterFn = LONG(NTAPI*)(ULONG, DllNotification, PVOID, PVOID*);
using UnregisterFn = LONG(NTAPI*)(PVOID);

const wchar_t* pendingPluginName = nullptr;

VOID CALLBACK OnDllLoaded(ULONG reason, const DllNotificationData* data, PVOID) {
    if (reason != 1 || !pendingPluginName || !data || !data->baseName) return;
    const std::wstring name(data->baseName->buffer, data->baseName->length / sizeof(wchar_t));
    if (lstrcmpiW(name.c_str(), pendingPluginName) == 0) InstrumentPlugin(static_cast<HMODULE>(data->base));
}

}  // namespace

void FailPluginModuleLookup(bool fail) {
    failModuleLookup = fail;
}

PluginCounters& Counters() {
    static PluginCounters counters;
    return counters;
}

void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(module);
    auto* nt = AtRva<IMAGE_NT_HEADERS32>(module, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return nullptr;
    for (auto* desc = AtRva<IMAGE_IMPORT_DESCRIPTOR>(module, dir.VirtualAddress); desc->Name; ++desc) {
        if (!SameText(AtRva<char>(module, desc->Name), dll)) continue;
        auto* names =
            AtRva<IMAGE_THUNK_DATA32>(module, desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk);
        auto* slots = AtRva<IMAGE_THUNK_DATA32>(module, desc->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal)) continue;
            auto* byName = AtRva<IMAGE_IMPORT_BY_NAME>(module, names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            void* previous = reinterpret_cast<void*>(static_cast<std::uintptr_t>(slots->u1.Function));
            const auto value = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(replacement));
            WriteHostBytes(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&slots->u1.Function)), &value,
                           4);
            return previous;
        }
    }
    return nullptr;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}

std::string BuiltPluginPath() {
    return AIMING_PLUGIN_BUILT_PATH;
}

PluginSandbox::PluginSandbox() {
    static int serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        path_ = std::string(temp) + "aimplugin-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++serial) + "\\";
        if (CreateDirectoryA(path_.c_str(), nullptr)) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
    }
    if (!CopyFileA(BuiltPluginPath().c_str(), PluginPath().c_str(), FALSE))
        throw std::runtime_error("cannot copy the plugin from " + BuiltPluginPath());
}

PluginSandbox::~PluginSandbox() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            SetFileAttributesA((path_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA((path_ + name).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

void PluginSandbox::WriteSettings(const std::string& contents) const {
    HANDLE file =
        CreateFileA(SettingsPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + SettingsPath());
    DWORD written = 0;
    WriteFile(file, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
    CloseHandle(file);
}

void PluginSandbox::RemoveSettings() const {
    DeleteFileA(SettingsPath().c_str());
}

PluginModule::PluginModule(const std::string& dllPath, bool instrument) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto reg =
        reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    auto unreg =
        reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnregisterDllNotification")));
    void* cookie = nullptr;
    std::wstring baseName;
    if (instrument && reg && unreg) {
        const std::size_t slash = dllPath.find_last_of("\\/");
        const std::string base = slash == std::string::npos ? dllPath : dllPath.substr(slash + 1);
        baseName.assign(base.begin(), base.end());
        pendingPluginName = baseName.c_str();
        reg(0, &OnDllLoaded, nullptr, &cookie);
    }
    // Paths beyond MAX_PATH load through the wide API's long-path form.
    const std::string full = dllPath.size() >= MAX_PATH ? "\\\\?\\" + dllPath : dllPath;
    module_ = LoadLibraryW(std::wstring(full.begin(), full.end()).c_str());
    if (cookie) unreg(cookie);
    pendingPluginName = nullptr;
}

PluginModule::~PluginModule() {
    Free();
}

void PluginModule::Free() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
}

}  // namespace standin
