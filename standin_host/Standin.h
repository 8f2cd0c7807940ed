// The stand-in host's API for test suites and the demonstration.
//
// A module loaded by standin-host.exe uses it to make the host image look like
// a given host build and to run the host's code paths the plugin hooks:
//
//   standin::ResetHost(1001);                  // probes, call sites, doubles, data
//   standin::Character().SetWeapon(22);        // the current character holds code 22
//   standin::PluginModule plugin(dir);         // LoadLibrary of the real plugin
//   auto call = standin::RunHostAimCall({...}); // the host reaches 0x527A95
//   standin::OffsetCalls().back().offset        // what 0x5334F0 received
//
// Host call sites are real x86 routines in the host image whose call
// instruction sits exactly at the host's address; host functions are jumps
// (E9 rel32) from the host's address to the doubles below, which keep the
// host's conventions and record what they receive.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/HostInterface.h"
#include "standin_host/HostImage.h"

namespace standin {

// ---- Host image ------------------------------------------------------------
// Puts the host image into a known state for `build` (0: no probe matches):
// probe words, the routines around both call sites with their original calls,
// the host-function doubles, host data filled with kDataFill, the doubles'
// records cleared, the character lookup returning Character().
void ResetHost(std::int32_t build);

// Writes the probe words of `build` and clears those of every other build.
void WriteBuildProbes(std::int32_t build);

// Raw access to any host byte, whatever its protection (the stand-in's own
// VirtualProtect calls, not the plugin's).
void WriteHostBytes(std::uint32_t address, const void* bytes, std::size_t size);
void WriteHostWord(std::uint32_t address, std::uint32_t value);
std::vector<std::uint8_t> ReadHostBytes(std::uint32_t address, std::size_t size);
std::uint32_t ReadHostWord(std::uint32_t address);

// The host's image as it is now, written to `path` as an executable file
// whose file layout is its memory's (each section's data at its address), as
// a game executable with these bytes would be on disk; false when it cannot
// be written.
bool WriteImageFile(const std::wstring& path);

constexpr std::uint32_t kDataFill = 0x7FC0DEAD;          // a NaN no settings file produces
constexpr std::uint32_t kCodeConstantFill = 0x3F8CCCCD;  // 1.1f, the host's own constant

// The 5 bytes at a call site as they are now.
std::vector<std::uint8_t> CallSiteBytes(std::uint32_t site);
// The 5 original bytes at the call sites after ResetHost.
std::vector<std::uint8_t> OriginalAimCallBytes();
std::vector<std::uint8_t> OriginalFrameCallBytes();

// ---- Call sites as other editions and other plugins leave them -------------
// Rebuilds the routine around `site` (kAimPointCallSite or kFrameCallSite)
// with `instruction` at the site in place of its E8 call; what follows the
// instruction moves with its length. ResetHost puts the E8 back.
void SetCallInstruction(std::uint32_t site, const std::vector<std::uint8_t>& instruction);
// E8 rel32 at `site` to `destination`.
std::vector<std::uint8_t> CallBytes(std::uint32_t site, std::uint32_t destination);
// E9 rel32 at `site` to `destination`.
std::vector<std::uint8_t> JumpBytes(std::uint32_t site, std::uint32_t destination);
// FF 15 [slot]: a 6-byte call through the pointer stored at `slot`.
std::vector<std::uint8_t> IndirectCallBytes(std::uint32_t slot);
// A detour as a hooking plugin writes one, in executable memory outside the
// host image: E8 to `callee`, then E9 back to the instruction after `site`'s
// 5-byte jump. Returns its address.
std::uint32_t PlaceDetour(std::uint32_t site, std::uint32_t callee);

// Another plugin's hook as such plugins are written: the site's call now
// goes to a small thunk that counts the call and jumps on to whatever the
// site called before (`found`, read when it was placed), be that the game's
// function or a hook of this plugin.
struct ChainingHook {
    std::uint32_t site = 0;
    std::uint32_t address = 0;  // the thunk
    std::uint32_t found = 0;    // where it goes on
    volatile std::uint32_t* calls = nullptr;
};
ChainingHook PlaceChainingHook(std::uint32_t site);

// Another plugin's hook as a library that follows jumps places it: from the
// call at `site` it follows E9 and FF 25 jumps to the first real code, and
// hooks that code in place (a 5-byte jump to a thunk that counts the call and
// runs the overwritten instructions from a trampoline). Returns where it
// hooked (0 when the code there starts with an instruction it cannot move).
struct FollowingHook {
    std::uint32_t hooked = 0;
    volatile std::uint32_t* calls = nullptr;
    std::vector<std::uint8_t> saved;  // the 5 bytes it overwrote
};
FollowingHook PlaceJumpFollowingHook(std::uint32_t site);
// Puts the overwritten bytes back.
void RemoveJumpFollowingHook(const FollowingHook& hook);
// Unhooks as such a plugin does: puts back the call it found, if the site
// still calls its thunk (false otherwise). The thunk stays.
bool RemoveChainingHook(const ChainingHook& hook);

// Where a call to `destination` ends up: past a call gate, its handler
// (`before` when set, else `after`) or, with none, where it calls on; else
// `destination` itself.
std::uint32_t PastGate(std::uint32_t destination);

// Every build the stand-in can imitate; 0: one that no probe recognises.
constexpr std::int32_t kBuilds[] = {1001, 1002, 1011, 1101, 1111, 3200, 3210, 0};

// ---- Host call paths -------------------------------------------------------
struct AimCallArgs {
    void* object = nullptr;
    const float* point = nullptr;
    std::uint32_t arg2 = 0, arg3 = 0, arg4 = 0;  // raw bits of the three floats
};

// What a call may not change for the thread that makes it.
struct ThreadState {
    unsigned long lastError = 0;
    std::uint16_t x87Control = 0;
    std::uint32_t mxcsr = 0;
    bool direction = false;  // the direction flag
    bool operator==(const ThreadState& o) const {
        return lastError == o.lastError && x87Control == o.x87Control && mxcsr == o.mxcsr && direction == o.direction;
    }
};

struct HostCallOutcome {
    std::uint32_t result = 0;         // EAX after the call
    bool stackBalanced = false;       // ESP after the call equals ESP before the pushes
    bool registersPreserved = false;  // EBX, ESI, EDI, EBP hold what the routine put there
    ThreadState stateAfter;           // as the call came back (with SetHostCallState only)
};

// The thread state the host's routines make their calls with from now on,
// and look at as each call comes back (nullptr: none; the thread's state is
// then left as it stands, at no cost). ResetHost clears it.
void SetHostCallState(const ThreadState* state);

// The host runs its aim routine: pushes the four arguments, loads ECX with
// the object and executes the call instruction at 0x527A95.
HostCallOutcome RunHostAimCall(const AimCallArgs& args);

// The host runs its frame routine: executes the call instruction at 0x53E981.
HostCallOutcome RunHostFrame();

// ---- Doubles of the host functions ----------------------------------------
struct AimFunctionCall {  // a call that reached 0x521500
    void* object;
    const float* point;
    std::array<std::uint32_t, 3> pointBits;  // the three floats at `point`, raw
    std::uint32_t arg2, arg3, arg4;
};
struct OffsetCall {  // a call that reached 0x5334F0
    void* character;
    std::array<std::uint32_t, 3> offsetBits;  // the offset vector received, raw
    std::array<float, 3> point;               // what the double wrote back
};
const std::vector<AimFunctionCall>& AimFunctionCalls();
const std::vector<OffsetCall>& OffsetCalls();
const std::vector<std::int32_t>& CharacterLookups();  // arguments received by 0x56E210
int HostFrameFunctionCalls();
// Calls that reached 0x521500 and 0x5334F0 since ResetHost, counted whether
// or not the doubles log.
long HostAimFunctionCallCount();
long HostOffsetCallCount();
// The next call of the frame function sets the event `entered` and waits,
// inside the host's function, until `release` is set.
void HoldNextHostFrame(void* entered, void* release);
// The same, but while held the frame function loads and frees `library` over
// and over (as a game's loading screen does), until `release` is set.
void HoldNextHostFrameLoadingLibrary(void* entered, void* release, const wchar_t* library);
// The next character lookup (0x56E210) sets `entered`, then waits for
// `release`, loading and freeing `library` over and over meanwhile when one
// is named (a game whose lookup loads a library).
void HoldNextCharacterLookup(void* entered, void* release, const wchar_t* library);
// The next character lookup leaves by __builtin_longjmp to `recovery` (a
// __builtin_setjmp buffer of five words), as a game's own error recovery
// might, past whatever called it.
void LeaveNextCharacterLookupTo(void** recovery);

// What the doubles return: 0x521500 returns kAimFunctionResult + number of
// calls so far; the frame function returns SetHostFrameResult's value.
constexpr std::uint32_t kAimFunctionResult = 0xA1A10000;
void SetHostFrameResult(std::uint32_t value);

// 0x5334F0 turns an offset into a point: the character's position plus the offset.
constexpr std::array<float, 3> kCharacterPosition = {100.0f, 200.0f, 300.0f};

// A chronological log that the doubles and the tests append to.
std::vector<std::string>& Events();
// The doubles log only while this is on (ResetHost turns it on); allocation
// counts and benchmarks turn it off so that the host itself allocates nothing.
void LogHostEvents(bool on);

// ---- Character record ------------------------------------------------------
class CharacterRecord {
public:
    void Clear();
    void SetState(std::uint32_t state);
    void SetCurrentSlot(std::uint8_t slot);
    void SetWeaponType(std::uint8_t slot, std::uint32_t code);
    // Current slot 0 holding `code`, state word clear.
    void SetWeapon(std::uint32_t code);
    void* Address() { return bytes_.data(); }

private:
    alignas(4) std::array<std::uint8_t, host::kRecordMinimumSize> bytes_{};
};
CharacterRecord& Character();
// What 0x56E210 returns (ResetHost sets it to Character()).
void SetCharacterLookupResult(void* record);

// ---- Keys ------------------------------------------------------------------
// Sets this thread's key state (SetKeyboardState) as GetKeyState reports it.
void SetKeys(bool rightButton, bool space);

// ---- Modules ---------------------------------------------------------------
// Replaces the address that `module` imports for `function` from `dll`
// (case-insensitive); returns the previous address, or null when not imported.
void* ReplaceImport(HMODULE module, const char* dll, const char* function, void* replacement);
HMODULE ThisModule();

// Path of the plugin DLL as built, Windows form.
std::string BuiltPluginPath();

// UTF-8 text as UTF-16, for the wide API, and back.
std::wstring Wide(const std::string& text);
std::string Utf8(const std::wstring& text);

// The bytes of the file at `path` (up to 2 MB), read while others may write
// it; empty when it cannot be opened.
std::string ReadWholeFile(const std::wstring& path);
// Makes `bytes` the whole of the file at `path` (created or emptied), shared
// so that a plugin may read it meanwhile; false when it cannot be written.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);

// Counts the heap allocations (malloc, calloc, realloc) that `module` makes
// through its own C-runtime imports, for as long as the object lives; one
// at a time. A module that does not import them stops the run: its count
// would measure nothing.
class AllocationCount {
public:
    explicit AllocationCount(HMODULE module);
    ~AllocationCount();
    AllocationCount(const AllocationCount&) = delete;
    AllocationCount& operator=(const AllocationCount&) = delete;

    long Count() const;
    void Reset();

private:
    HMODULE module_;
};

// A directory of its own under the temp directory, removed on destruction,
// holding a copy of the plugin DLL and the settings file the test writes.
class PluginSandbox {
public:
    PluginSandbox();
    ~PluginSandbox();
    PluginSandbox(const PluginSandbox&) = delete;
    PluginSandbox& operator=(const PluginSandbox&) = delete;

    const std::string& Path() const { return path_; }  // ends in a backslash
    std::string PluginPath() const { return path_ + "AimingPlugin.dll"; }
    std::string SettingsPath() const { return path_ + "aimingSets.dat"; }
    std::string LogPath() const { return path_ + "AimingPlugin.log"; }
    // The plugin's log as it stands (empty when there is none).
    std::string ReadLog() const;
    void WriteSettings(const std::string& contents) const;
    void RemoveSettings() const;
    // Dates the settings file's last write a minute back: a file saved
    // earlier, whose stamp the plugin trusts from then on.
    void AgeSettings() const;

private:
    std::string path_;
};

// The plugin loaded with LoadLibrary; freed with FreeLibrary on destruction.
class PluginModule {
public:
    // instrument: count through the plugin's imports (see PluginCounters).
    explicit PluginModule(const std::string& dllPath, bool instrument = true);  // UTF-8
    explicit PluginModule(const std::wstring& dllPath, bool instrument = true);
    ~PluginModule();
    PluginModule(const PluginModule&) = delete;
    PluginModule& operator=(const PluginModule&) = delete;

    HMODULE Handle() const { return module_; }
    bool Loaded() const { return module_ != nullptr; }
    void Free();

private:
    HMODULE module_ = nullptr;
};

// What the plugin asked of the system, counted through its own imports:
// PluginModule replaces the plugin's imports of malloc, calloc, realloc,
// CreateFileW, ReadFile, GetKeyState, GetModuleHandleExW, GetModuleFileNameW,
// GetTickCount64, VirtualProtect, CreateFileMappingW, VirtualAlloc and
// MessageBoxA with counting (or steerable) pass-throughs
// as soon as the module is mapped, before its start-up runs.
// GetKeyState calls also go to Events() as "GetKeyState".
struct MessageBoxShown {
    std::string text, caption;
    unsigned type;
};
struct PluginCounters {
    long allocations = 0;                       // malloc, calloc, realloc (operator new goes through malloc)
    int settingsOpens = 0;                      // CreateFileW of a path ending in aimingSets.dat
    int moduleLookups = 0;                      // GetModuleHandleExW
    long long bytesRead = 0;                    // ReadFile: the settings file is all the plugin reads
    std::vector<MessageBoxShown> messageBoxes;  // MessageBoxA never shows a box: it is recorded
    std::vector<unsigned> soundsQueued;         // QueueUserWorkItem: each sound's MessageBeep type, not played
};
PluginCounters& Counters();  // cleared by ResetHost

// The plugin's next GetKeyState (on whichever thread: a frame inside the
// plugin's own code) sets the event `entered` and waits until `release` is set.
void HoldNextKeyQuery(void* entered, void* release);

// While true, the plugin's GetModuleHandleExW fails (last error 126), as it
// does when a module cannot be identified.
void FailPluginModuleLookup(bool fail);

// The plugin's allocation number `number` (counted as in
// PluginCounters::allocations, from 1) fails: it returns null. 0: none
// fails. Cleared by ResetHost.
void FailPluginAllocation(long number);

// While frozen, the plugin's GetTickCount64 stands still, except where
// AdvancePluginClock moves it on: a frame loop then takes no time at all.
void FreezePluginClock(bool frozen);
void AdvancePluginClock(unsigned milliseconds);

// While true, the plugin's CreateFileMappingW of its gates' name fails as it
// does when an object of another kind holds the name.
void TakePluginGateName(bool taken);
// While true, the plugin's VirtualAlloc fails (no memory for its gates).
void FailPluginGateMemory(bool fail);

// While true, the plugin's GetModuleFileNameW fails and gives an empty path.
void FailPluginModuleFileName(bool fail);

// Another writer between the plugin's check of `site` and its write: the
// next time the plugin opens the site's 5 bytes for writing, `bytes` are
// written there first. Once; cleared by ResetHost.
void RewriteSiteBeforePluginWrites(std::uint32_t site, const std::vector<std::uint8_t>& bytes);

// The plugin leaves its call gates in the process when it is unloaded, with
// what it found at the sites then; this forgets the latter, as a fresh
// process would have it, so that one test's sites do not steer the next's.
// Called by ResetHost.
void ForgetPluginGateSharing();

// Whether the instrumentation took hold of the plugin loaded last.
bool PluginInstrumented();

}  // namespace standin

// Every module that standin-host.exe runs exports this entry point.
extern "C" __declspec(dllexport) int standin_module_main(int argc, char** argv);
