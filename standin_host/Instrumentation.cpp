// Instrumentation of the plugin: its imports replaced with counting
// pass-throughs as soon as the loader has mapped it, before its start-up runs.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "standin_host/Standin.h"
#include "standin_host/StandinInternal.h"

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
using CreateFileWFn = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using ReadFileFn = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using GetKeyStateFn = SHORT(WINAPI*)(int);
using GetModuleHandleExWFn = BOOL(WINAPI*)(DWORD, LPCWSTR, HMODULE*);
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using GetTickCount64Fn = ULONGLONG(WINAPI*)();
using GetModuleFileNameWFn = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);
using VirtualProtectFn = BOOL(WINAPI*)(LPVOID, SIZE_T, DWORD, PDWORD);
using QueueUserWorkItemFn = BOOL(WINAPI*)(LPTHREAD_START_ROUTINE, PVOID, ULONG);

MallocFn realMalloc = nullptr;
CallocFn realCalloc = nullptr;
ReallocFn realRealloc = nullptr;
CreateFileWFn realCreateFileW = nullptr;
GetKeyStateFn realGetKeyState = nullptr;
ReadFileFn realReadFile = nullptr;
GetModuleHandleExWFn realGetModuleHandleExW = nullptr;
MessageBoxAFn realMessageBoxA = nullptr;
GetTickCount64Fn realGetTickCount64 = nullptr;
GetModuleFileNameWFn realGetModuleFileNameW = nullptr;
VirtualProtectFn realVirtualProtect = nullptr;
QueueUserWorkItemFn realQueueUserWorkItem = nullptr;
std::uint32_t rewriteSite = 0;  // 0: no other writer armed
std::vector<std::uint8_t> rewriteBytes;
bool clockFrozen = false;
ULONGLONG frozenTicks = 0;
bool failModuleFileName = false;
bool gateNameTaken = false;
bool failGateMemory = false;

using CreateFileMappingWFn = HANDLE(WINAPI*)(HANDLE, LPSECURITY_ATTRIBUTES, DWORD, DWORD, DWORD, LPCWSTR);
using VirtualAllocFn = LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD);
CreateFileMappingWFn realCreateFileMappingW = nullptr;
VirtualAllocFn realVirtualAlloc = nullptr;

// The gates' name held by an object of another kind (a mutex, say): the
// system then fails the mapping with ERROR_INVALID_HANDLE.
HANDLE WINAPI PluginCreateFileMappingW(HANDLE file, LPSECURITY_ATTRIBUTES sa, DWORD protect, DWORD high, DWORD low,
                                       LPCWSTR name) {
    if (gateNameTaken && name && std::wcsstr(name, L".gates.")) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return realCreateFileMappingW(file, sa, protect, high, low, name);
}

LPVOID WINAPI PluginVirtualAlloc(LPVOID at, SIZE_T size, DWORD type, DWORD protect) {
    if (failGateMemory) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return realVirtualAlloc(at, size, type, protect);
}
bool failModuleLookup = false;
long failingAllocation = 0;  // 0: none fails
bool instrumented = false;   // the plugin loaded last was instrumented

// Counts an allocation; false when it is the one to fail.
bool CountAllocation() {
    return ++Counters().allocations != failingAllocation;
}
void* CountingMalloc(std::size_t n) {
    return CountAllocation() ? realMalloc(n) : nullptr;
}
void* CountingCalloc(std::size_t n, std::size_t m) {
    return CountAllocation() ? realCalloc(n, m) : nullptr;
}
void* CountingRealloc(void* p, std::size_t n) {
    return CountAllocation() ? realRealloc(p, n) : nullptr;
}
HANDLE WINAPI CountingCreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                                  DWORD flags, HANDLE tmpl) {
    const std::size_t n = name ? std::wcslen(name) : 0;
    static const wchar_t kName[] = L"aimingSets.dat";
    constexpr std::size_t kLength = sizeof kName / sizeof kName[0] - 1;
    if (n >= kLength && lstrcmpiW(name + n - kLength, kName) == 0) ++Counters().settingsOpens;
    return realCreateFileW(name, access, share, sa, disposition, flags, tmpl);
}
BOOL WINAPI CountingReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped) {
    const BOOL ok = realReadFile(file, buffer, size, got, overlapped);
    if (ok && got) Counters().bytesRead += *got;
    return ok;
}
void* keyQueryEntered = nullptr;
void* keyQueryRelease = nullptr;

SHORT WINAPI CountingGetKeyState(int key) {
    LogEvent("GetKeyState");
    if (void* entered = InterlockedExchangePointer(&keyQueryEntered, nullptr)) {
        SetEvent(entered);
        WaitForSingleObject(keyQueryRelease, INFINITE);
    }
    return realGetKeyState(key);
}

BOOL WINAPI CountingGetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
    ++Counters().moduleLookups;
    if (failModuleLookup) {
        if (module) *module = nullptr;
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    return realGetModuleHandleExW(flags, name, module);
}
ULONGLONG WINAPI PluginTickCount64() {
    return clockFrozen ? frozenTicks : realGetTickCount64();
}
DWORD WINAPI PluginModuleFileNameW(HMODULE module, LPWSTR path, DWORD size) {
    if (!failModuleFileName) return realGetModuleFileNameW(module, path, size);
    if (path && size) path[0] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
}
// The other writer strikes when the plugin opens the call's 5 bytes for
// its write, after its check: the moment between the two.
BOOL WINAPI PluginVirtualProtect(LPVOID address, SIZE_T size, DWORD protection, PDWORD old) {
    const auto at = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
    if (rewriteSite && at == rewriteSite && size == 5 && protection == PAGE_EXECUTE_READWRITE) {
        rewriteSite = 0;
        WriteHostBytes(at, rewriteBytes.data(), rewriteBytes.size());
    }
    return realVirtualProtect(address, size, protection, old);
}
// The plugin queues work only to play a sound: recorded, never played.
BOOL WINAPI RecordingQueueUserWorkItem(LPTHREAD_START_ROUTINE, PVOID context, ULONG) {
    Counters().soundsQueued.push_back(static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(context)));
    return TRUE;
}
int WINAPI RecordingMessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    Counters().messageBoxes.push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
}

// A plugin that does not import one of these could not be counted, and every
// count taken of it would pass having measured nothing: that stops the run.
template <typename Fn>
void Interpose(HMODULE module, const char* dll, const char* function, Fn replacement, Fn& real) {
    void* previous = ReplaceImport(module, dll, function, reinterpret_cast<void*>(replacement));
    if (!previous) {
        std::fprintf(stderr, "standin: the plugin does not import %s from %s: its calls cannot be counted\n", function,
                     dll);
        std::abort();
    }
    if (previous != reinterpret_cast<void*>(replacement)) real = reinterpret_cast<Fn>(previous);
}

void InstrumentPlugin(HMODULE module) {
    Interpose(module, "msvcrt.dll", "malloc", &CountingMalloc, realMalloc);
    Interpose(module, "msvcrt.dll", "calloc", &CountingCalloc, realCalloc);
    Interpose(module, "msvcrt.dll", "realloc", &CountingRealloc, realRealloc);
    Interpose(module, "kernel32.dll", "CreateFileW", &CountingCreateFileW, realCreateFileW);
    Interpose(module, "user32.dll", "GetKeyState", &CountingGetKeyState, realGetKeyState);
    Interpose(module, "kernel32.dll", "ReadFile", &CountingReadFile, realReadFile);
    Interpose(module, "kernel32.dll", "GetModuleHandleExW", &CountingGetModuleHandleExW, realGetModuleHandleExW);
    Interpose(module, "user32.dll", "MessageBoxA", &RecordingMessageBoxA, realMessageBoxA);
    Interpose(module, "kernel32.dll", "GetTickCount64", &PluginTickCount64, realGetTickCount64);
    Interpose(module, "kernel32.dll", "GetModuleFileNameW", &PluginModuleFileNameW, realGetModuleFileNameW);
    Interpose(module, "kernel32.dll", "VirtualProtect", &PluginVirtualProtect, realVirtualProtect);
    Interpose(module, "kernel32.dll", "CreateFileMappingW", &PluginCreateFileMappingW, realCreateFileMappingW);
    Interpose(module, "kernel32.dll", "VirtualAlloc", &PluginVirtualAlloc, realVirtualAlloc);
    Interpose(module, "kernel32.dll", "QueueUserWorkItem", &RecordingQueueUserWorkItem, realQueueUserWorkItem);
    instrumented = true;
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

InstrumentationScope::InstrumentationScope(const std::wstring& dllPath) {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    auto reg =
        reinterpret_cast<RegisterFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    unregister_ = reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnregisterDllNotification"));
    if (!reg || !unregister_) {
        std::fprintf(stderr, "standin: this Wine has no loader notifications: the plugin cannot be instrumented\n");
        std::abort();
    }
    instrumented = false;
    const std::size_t slash = dllPath.find_last_of(L"\\/");
    baseName_ = slash == std::wstring::npos ? dllPath : dllPath.substr(slash + 1);
    pendingPluginName = baseName_.c_str();
    reg(0, &OnDllLoaded, nullptr, &cookie_);
}

InstrumentationScope::~InstrumentationScope() {
    if (cookie_) reinterpret_cast<UnregisterFn>(unregister_)(cookie_);
    pendingPluginName = nullptr;
}

void FailPluginModuleLookup(bool fail) {
    failModuleLookup = fail;
}

void HoldNextKeyQuery(void* entered, void* release) {
    keyQueryRelease = release;
    InterlockedExchangePointer(&keyQueryEntered, entered);
}

void FreezePluginClock(bool frozen) {
    if (frozen && !clockFrozen) frozenTicks = GetTickCount64();
    clockFrozen = frozen;
}

void AdvancePluginClock(unsigned milliseconds) {
    frozenTicks += milliseconds;
}

void RewriteSiteBeforePluginWrites(std::uint32_t site, const std::vector<std::uint8_t>& bytes) {
    rewriteBytes = bytes;
    rewriteSite = site;
}

void TakePluginGateName(bool taken) {
    gateNameTaken = taken;
}

void FailPluginGateMemory(bool fail) {
    failGateMemory = fail;
}

void FailPluginModuleFileName(bool fail) {
    failModuleFileName = fail;
}

void FailPluginAllocation(long number) {
    failingAllocation = number;
}

bool PluginInstrumented() {
    return instrumented;
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

namespace {
long moduleAllocations = 0;
MallocFn moduleMalloc = nullptr;
CallocFn moduleCalloc = nullptr;
ReallocFn moduleRealloc = nullptr;
void* ModuleMalloc(std::size_t n) {
    ++moduleAllocations;
    return moduleMalloc(n);
}
void* ModuleCalloc(std::size_t n, std::size_t m) {
    ++moduleAllocations;
    return moduleCalloc(n, m);
}
void* ModuleRealloc(void* p, std::size_t n) {
    ++moduleAllocations;
    return moduleRealloc(p, n);
}
// calloc and realloc, which a module may not import, are counted where it does.
template <typename Fn>
void Reroute(HMODULE module, const char* function, Fn replacement, Fn& real) {
    if (void* previous = ReplaceImport(module, "msvcrt.dll", function, reinterpret_cast<void*>(replacement)))
        real = reinterpret_cast<Fn>(previous);
}
template <typename Fn>
void PutBack(HMODULE module, const char* function, Fn& real) {
    if (real) ReplaceImport(module, "msvcrt.dll", function, reinterpret_cast<void*>(real));
    real = nullptr;
}
}  // namespace

AllocationCount::AllocationCount(HMODULE module) : module_(module) {
    moduleAllocations = 0;
    Reroute(module, "malloc", &ModuleMalloc, moduleMalloc);
    if (!moduleMalloc) {
        std::fprintf(stderr, "standin: the module does not import malloc: its allocations cannot be counted\n");
        std::abort();
    }
    Reroute(module, "calloc", &ModuleCalloc, moduleCalloc);
    Reroute(module, "realloc", &ModuleRealloc, moduleRealloc);
}

AllocationCount::~AllocationCount() {
    PutBack(module_, "malloc", moduleMalloc);
    PutBack(module_, "calloc", moduleCalloc);
    PutBack(module_, "realloc", moduleRealloc);
}

long AllocationCount::Count() const {
    return moduleAllocations;
}

void AllocationCount::Reset() {
    moduleAllocations = 0;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&ThisModule), &module);
    return module;
}
}  // namespace standin
