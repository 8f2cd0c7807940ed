// The stand-in's host image: real x86 routines around the host's call sites,
// jumps from the host's functions to their doubles, probe words and data.
#include <cstddef>
#include <cstring>
#include <string>

#include "codepatch/branch.h"
#include "codepatch/call_gate.h"
#include "standin_host/Standin.h"
#include "standin_host/StandinInternal.h"

namespace standin {
namespace {

// ---- Machine code of the host routines -------------------------------------
// Sentinels the routines put into the callee-saved registers before the call.
constexpr std::uint32_t kEbxSentinel = 0xB1B1B1B1;
constexpr std::uint32_t kEsiSentinel = 0x51515151;
constexpr std::uint32_t kEdiSentinel = 0xD1D1D1D1;
constexpr std::uint32_t kEbpSentinel = 0xBEBEBEBE;

// Offsets in a call record (kAimCallRecord, kFrameCallRecord): the arguments
// a routine pushes and what it finds after the call.
// clang-format off
enum CallRecordField : std::uint32_t {
    kObject = 0, kArg1 = 4, kArg2 = 8, kArg3 = 12, kArg4 = 16, kResult = 20,
    kEspBefore = 24, kEspAfter = 28, kEbxAfter = 32, kEsiAfter = 36, kEdiAfter = 40,
    kEbpAfter = 44,
    // The thread's state as the call is made, and as it comes back.
    kLastErrorIn = 48, kX87In = 52, kMxcsrIn = 56, kDirectionIn = 60,
    kLastErrorAfter = 64, kX87After = 68, kMxcsrAfter = 72, kFlagsAfter = 76,
    kX87Saved = 80, kMxcsrSaved = 84, kStateOn = 88,
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

// A routine `void routine()` whose call instruction (normally E8 rel32)
// lies exactly at `callSite`. It keeps the callee-saved registers of its own caller, loads
// the sentinels, pushes `pushedArgs` words from the call record (last first),
// optionally loads ECX from it, calls, and records EAX, the callee-saved
// registers and ESP in the call record before it restores its caller's state.
std::uint32_t PlaceRoutine(std::uint32_t callSite, const std::vector<std::uint8_t>& instruction, std::uint32_t record,
                           int pushedArgs, bool thisCall) {
    // clang-format off
    Code pre;
    pre.Bytes({0x55, 0x53, 0x56, 0x57});                // push ebp/ebx/esi/edi
    pre.Bytes({0x89, 0x25}); pre.Word(record + kEspBefore);  // mov [f.espBefore], esp
    for (int i = pushedArgs; i >= 1; --i) {
        pre.Bytes({0xFF, 0x35}); pre.Word(record + kObject + 4u * static_cast<std::uint32_t>(i));  // push dword [f.argN]
    }
    if (thisCall) { pre.Bytes({0x8B, 0x0D}); pre.Word(record + kObject); }  // mov ecx, [f.object]
    pre.Byte(0xBB); pre.Word(kEbxSentinel);  // mov ebx, imm32
    pre.Byte(0xBE); pre.Word(kEsiSentinel);  // mov esi, imm32
    pre.Byte(0xBF); pre.Word(kEdiSentinel);  // mov edi, imm32
    pre.Byte(0xBD); pre.Word(kEbpSentinel);  // mov ebp, imm32
    // The game's thread state for the call, when one is set: its last
    // error, x87 control word, MXCSR and direction flag (ours saved first).
    pre.Bytes({0x83, 0x3D}); pre.Word(record + kStateOn); pre.Byte(0x00);  // cmp dword [f.stateOn], 0
    pre.Bytes({0x74, 47});                                         // je past the state (47 bytes)
    pre.Bytes({0xD9, 0x3D}); pre.Word(record + kX87Saved);         // fnstcw [f.x87Saved]
    pre.Bytes({0x0F, 0xAE, 0x1D}); pre.Word(record + kMxcsrSaved); // stmxcsr [f.mxcsrSaved]
    pre.Bytes({0xD9, 0x2D}); pre.Word(record + kX87In);            // fldcw [f.x87In]
    pre.Bytes({0x0F, 0xAE, 0x15}); pre.Word(record + kMxcsrIn);    // ldmxcsr [f.mxcsrIn]
    pre.Byte(0xA1); pre.Word(record + kLastErrorIn);               // mov eax, [f.lastErrorIn]
    pre.Bytes({0x64, 0xA3, 0x34, 0x00, 0x00, 0x00});               // mov fs:[0x34], eax (the TEB's last error)
    pre.Bytes({0x83, 0x3D}); pre.Word(record + kDirectionIn); pre.Byte(0x00);  // cmp dword [f.directionIn], 0
    pre.Bytes({0x74, 0x01, 0xFD});                                 // je +1; std

    Code call;
    call.Bytes() = instruction;  // the call at the host's call site, E8 rel32 as the host has it
    call.Byte(0xA3); call.Word(record + kResult);                 // mov [f.result], eax
    call.Bytes({0x89, 0x1D}); call.Word(record + kEbxAfter);      // mov [..], ebx
    call.Bytes({0x89, 0x35}); call.Word(record + kEsiAfter);      // mov [..], esi
    call.Bytes({0x89, 0x3D}); call.Word(record + kEdiAfter);      // mov [..], edi
    call.Bytes({0x89, 0x2D}); call.Word(record + kEbpAfter);      // mov [..], ebp
    call.Bytes({0x89, 0x25}); call.Word(record + kEspAfter);      // mov [..], esp
    call.Bytes({0x83, 0x3D}); call.Word(record + kStateOn); call.Byte(0x00);  // cmp dword [f.stateOn], 0
    call.Bytes({0x74, 45});                                       // je past the state (45 bytes)
    call.Byte(0x9C);                                              // pushfd
    call.Bytes({0x8F, 0x05}); call.Word(record + kFlagsAfter);    // pop dword [f.flagsAfter]
    call.Byte(0xFC);                                              // cld
    call.Bytes({0xD9, 0x3D}); call.Word(record + kX87After);      // fnstcw [f.x87After]
    call.Bytes({0x0F, 0xAE, 0x1D}); call.Word(record + kMxcsrAfter); // stmxcsr [f.mxcsrAfter]
    call.Bytes({0x64, 0xA1, 0x34, 0x00, 0x00, 0x00});              // mov eax, fs:[0x34]
    call.Byte(0xA3); call.Word(record + kLastErrorAfter);         // mov [f.lastErrorAfter], eax
    call.Bytes({0xD9, 0x2D}); call.Word(record + kX87Saved);      // fldcw [f.x87Saved]
    call.Bytes({0x0F, 0xAE, 0x15}); call.Word(record + kMxcsrSaved); // ldmxcsr [f.mxcsrSaved]
    call.Bytes({0x8B, 0x25}); call.Word(record + kEspBefore);     // mov esp, [f.espBefore]
    call.Bytes({0x5F, 0x5E, 0x5B, 0x5D, 0xC3});                   // pop edi/esi/ebx/ebp; ret

    // clang-format on
    const std::uint32_t start = callSite - static_cast<std::uint32_t>(pre.Size());
    WriteHostBytes(start, pre.Bytes().data(), pre.Size());
    WriteHostBytes(callSite, call.Bytes().data(), call.Size());
    return start;
}

void PlaceJump(std::uint32_t from, const void* to) {
    std::uint8_t jump[5] = {codepatch::op_jmp_rel32};  // E9 rel32
    const std::uint32_t rel =
        codepatch::relative_displacement(from, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(to)));
    std::memcpy(jump + 1, &rel, 4);
    WriteHostBytes(from, jump, sizeof jump);
}

// The call records lie in plain read-write host data: no protection change
// on the way, so that a host call costs what the host's code costs.
volatile std::uint32_t* CallRecord(std::uint32_t record) {
    return reinterpret_cast<volatile std::uint32_t*>(static_cast<std::uintptr_t>(record));
}

ThreadState hostCallState;
bool hostCallStateSet = false;

HostCallOutcome RunRoutine(std::uint32_t routine, std::uint32_t record) {
    volatile std::uint32_t* f = CallRecord(record);
    // Without a state set the routine leaves the thread's state alone, and
    // costs the host call nothing more (the benchmark's figures).
    const ThreadState in = hostCallState;
    f[kLastErrorIn / 4] = in.lastError;
    f[kX87In / 4] = in.x87Control;
    f[kMxcsrIn / 4] = in.mxcsr;
    f[kDirectionIn / 4] = in.direction ? 1 : 0;
    f[kStateOn / 4] = hostCallStateSet ? 1 : 0;
    reinterpret_cast<void (*)()>(static_cast<std::uintptr_t>(routine))();
    HostCallOutcome outcome;
    outcome.stateAfter = ThreadState{f[kLastErrorAfter / 4], static_cast<std::uint16_t>(f[kX87After / 4]),
                                     f[kMxcsrAfter / 4], (f[kFlagsAfter / 4] & (1u << 10)) != 0};
    outcome.result = f[kResult / 4];
    outcome.stackBalanced = f[kEspAfter / 4] == f[kEspBefore / 4];
    outcome.registersPreserved = f[kEbxAfter / 4] == kEbxSentinel && f[kEsiAfter / 4] == kEsiSentinel &&
                                 f[kEdiAfter / 4] == kEdiSentinel && f[kEbpAfter / 4] == kEbpSentinel;
    return outcome;
}

std::uint32_t aimRoutine = 0;
std::uint32_t frameRoutine = 0;

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

}  // namespace

std::vector<std::uint8_t> CallBytes(std::uint32_t site, std::uint32_t callee) {
    std::vector<std::uint8_t> bytes(codepatch::relative_branch_size, codepatch::op_call_rel32);
    const std::uint32_t rel = codepatch::relative_displacement(site, callee);
    std::memcpy(bytes.data() + 1, &rel, 4);
    return bytes;
}

// ---- Host image -------------------------------------------------------------------
void WriteHostBytes(std::uint32_t address, const void* bytes, std::size_t size) {
    CopyHostBytes(address, const_cast<void*>(bytes), size, true);
}
void WriteHostWord(std::uint32_t address, std::uint32_t value) {
    WriteHostBytes(address, &value, 4);
}
bool WriteImageFile(const std::wstring& path) {
    auto* base = reinterpret_cast<std::uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const std::uint32_t size = nt->OptionalHeader.SizeOfImage;
    std::string file(size, '\0');
    // Region by region, so that each keeps its own protection.
    for (std::uint32_t offset = 0; offset < size;) {
        MEMORY_BASIC_INFORMATION info;
        if (!VirtualQuery(base + offset, &info, sizeof info)) return false;
        const std::uint32_t regionEnd =
            static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(info.BaseAddress) + info.RegionSize - base);
        const std::uint32_t end = regionEnd < size ? regionEnd : size;
        if (info.State == MEM_COMMIT)
            CopyHostBytes(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(base + offset)), &file[offset],
                          end - offset, false);
        offset = end;
    }
    // The headers of the copy: file offsets equal to memory offsets.
    auto* copy = reinterpret_cast<IMAGE_NT_HEADERS32*>(&file[static_cast<std::size_t>(dos->e_lfanew)]);
    copy->OptionalHeader.FileAlignment = copy->OptionalHeader.SectionAlignment;
    copy->OptionalHeader.SizeOfHeaders = copy->OptionalHeader.SectionAlignment;
    IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(copy);
    for (unsigned i = 0; i < copy->FileHeader.NumberOfSections; ++i, ++section) {
        const std::uint32_t room = size - section->VirtualAddress;
        const std::uint32_t aligned = (section->Misc.VirtualSize + 0xFFF) & ~0xFFFu;
        section->PointerToRawData = section->VirtualAddress;
        section->SizeOfRawData = aligned < room ? aligned : room;
    }
    return WriteWholeFile(path, file);
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

std::vector<std::uint8_t> CallSiteBytes(std::uint32_t site) {
    return ReadHostBytes(site, codepatch::relative_branch_size);
}
std::vector<std::uint8_t> OriginalAimCallBytes() {
    return CallBytes(host::kAimPointCallSite, host::kAimPointFunction);
}
std::vector<std::uint8_t> OriginalFrameCallBytes() {
    return CallBytes(host::kFrameCallSite, kHostFrameFunction);
}

void ResetHost(std::int32_t build) {
    WriteBuildProbes(build);
    aimRoutine = PlaceRoutine(host::kAimPointCallSite, OriginalAimCallBytes(), kAimCallRecord, 4, true);
    frameRoutine = PlaceRoutine(host::kFrameCallSite, OriginalFrameCallBytes(), kFrameCallRecord, 0, false);
    const Doubles doubles = ResetDoubles();
    PlaceJump(host::kAimPointFunction, doubles.aimFunction);
    PlaceJump(host::kOffsetToPointFunction, doubles.offsetToPoint);
    PlaceJump(host::kCharacterLookupFunction, doubles.characterLookup);
    PlaceJump(kHostFrameFunction, doubles.frameFunction);
    WriteHostWord(host::kAimCodeConstant, kCodeConstantFill);
    std::vector<std::uint32_t> fill((host::kAimBlock + host::kAimBlockBytes - host::kAimValuesLowest) / 4, kDataFill);
    WriteHostBytes(host::kAimValuesLowest, fill.data(), fill.size() * 4);
    Counters() = PluginCounters{};
    FailPluginAllocation(0);
    FreezePluginClock(false);
    FailPluginModuleFileName(false);
    TakePluginGateName(false);
    FailPluginGateMemory(false);
    RewriteSiteBeforePluginWrites(0, {});
    ForgetPluginGateSharing();
    SetHostCallState(nullptr);
    SetKeys(false, false);
}

void ForgetPluginGateSharing() {
    wchar_t name[128];
    codepatch::call_gate_record_name(name, L"AimingPlugin", GetCurrentProcessId());
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, name);
    if (!mapping) return;
    if (const auto* record =
            static_cast<const codepatch::call_gate_record*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0))) {
        const auto* block =
            reinterpret_cast<const codepatch::call_gate_block*>(static_cast<std::uintptr_t>(record->address));
        for (std::uint32_t i = 0; i < block->count; ++i)
            WriteHostWord(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&block->gates[i].displaced_by)),
                          0);
        UnmapViewOfFile(record);
    }
    CloseHandle(mapping);
}

void SetCallInstruction(std::uint32_t site, const std::vector<std::uint8_t>& instruction) {
    if (site == host::kAimPointCallSite)
        aimRoutine = PlaceRoutine(site, instruction, kAimCallRecord, 4, true);
    else
        frameRoutine = PlaceRoutine(site, instruction, kFrameCallRecord, 0, false);
}

std::vector<std::uint8_t> JumpBytes(std::uint32_t site, std::uint32_t destination) {
    std::vector<std::uint8_t> bytes = CallBytes(site, destination);
    bytes[0] = codepatch::op_jmp_rel32;
    return bytes;
}

std::vector<std::uint8_t> IndirectCallBytes(std::uint32_t slot) {
    std::vector<std::uint8_t> bytes = {codepatch::op_group_ff, codepatch::modrm_call_indirect, 0, 0, 0, 0};
    std::memcpy(bytes.data() + 2, &slot, 4);
    return bytes;
}

std::uint32_t PlaceDetour(std::uint32_t site, std::uint32_t callee) {
    auto* code =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    const auto at = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code));
    const std::vector<std::uint8_t> call = CallBytes(at, callee);
    const std::vector<std::uint8_t> back = JumpBytes(at + 5, site + codepatch::relative_branch_size);
    std::memcpy(code, call.data(), 5);
    std::memcpy(code + 5, back.data(), 5);
    return at;
}

std::uint32_t PastGate(std::uint32_t destination) {
    const codepatch::call_gate* gate = codepatch::call_gate_at(destination);
    if (!gate) return destination;
    return gate->before ? gate->before : gate->after ? gate->after : gate->target;
}

namespace {

// The length of the instruction at `code` when it is one a hook may move
// into a trampoline as it stands (no relative operand), else 0.
std::uint32_t MovableLength(const std::uint8_t* code) {
    switch (code[0]) {
        case 0x50:
        case 0x51:
        case 0x52:
        case 0x53:
        case 0x55:
        case 0x56:
        case 0x57:  // push r32
            return 1;
        case 0x89:
        case 0x8B:  // mov r/m32, r32 (register form)
            return (code[1] & 0xC0) == 0xC0 ? 2 : 0;
        case 0x83:  // sub/add esp, imm8; cmp dword ptr [abs32], imm8
            return code[1] == 0xEC || code[1] == 0xC4 ? 3 : code[1] == 0x3D ? 7 : 0;
        case 0x8D:  // lea r32, [esp + disp8]
            return (code[1] & 0xC7) == 0x44 && code[2] == 0x24 ? 4 : 0;
        case 0x6A:  // push imm8
            return 2;
        default:
            return 0;
    }
}

}  // namespace

FollowingHook PlaceJumpFollowingHook(std::uint32_t site) {
    FollowingHook hook;
    std::uint32_t at = codepatch::branch_target(codepatch::patch_address(site));
    for (int hops = 0; hops < 8; ++hops) {
        const auto* code = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(at));
        if (code[0] == codepatch::op_jmp_rel32 || (code[0] == 0xFF && code[1] == 0x25))
            at = codepatch::branch_target(codepatch::patch_address(at));
        else
            break;
    }
    const auto* code = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(at));
    std::uint32_t moved = 0;
    while (moved < 5) {
        const std::uint32_t length = MovableLength(code + moved);
        if (length == 0) return hook;
        moved += length;
    }
    auto* thunk =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    auto* calls = reinterpret_cast<std::uint32_t*>(thunk + 2048);
    const auto address = [](const void* p) { return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p)); };
    std::uint8_t* out = thunk;
    *out++ = 0xF0;  // lock inc dword [calls]
    *out++ = 0xFF;
    *out++ = 0x05;
    const std::uint32_t counter = address(calls);
    std::memcpy(out, &counter, 4);
    out += 4;
    std::memcpy(out, code, moved);  // the trampoline: the moved instructions, then back
    out += moved;
    const std::vector<std::uint8_t> back = JumpBytes(address(out), at + moved);
    std::memcpy(out, back.data(), back.size());
    const std::vector<std::uint8_t> jump = JumpBytes(at, address(thunk));
    hook.saved = ReadHostBytes(at, jump.size());
    WriteHostBytes(at, jump.data(), jump.size());
    FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
    hook.hooked = at;
    hook.calls = calls;
    return hook;
}

void RemoveJumpFollowingHook(const FollowingHook& hook) {
    if (!hook.hooked) return;
    WriteHostBytes(hook.hooked, hook.saved.data(), hook.saved.size());
    FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
}

ChainingHook PlaceChainingHook(std::uint32_t site) {
    auto* code =
        static_cast<std::uint8_t*>(VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    ChainingHook hook;
    hook.site = site;
    hook.address = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code));
    hook.calls = reinterpret_cast<volatile std::uint32_t*>(code + 32);
    hook.found = codepatch::branch_target(codepatch::patch_address(site));
    std::memcpy(code + 36, &hook.found, 4);
    // lock inc dword [calls]; jmp dword [found]
    const std::uint32_t calls = hook.address + 32, found = hook.address + 36;
    const std::uint8_t thunk[] = {0xF0, 0xFF, 0x05, 0, 0, 0, 0, 0xFF, 0x25, 0, 0, 0, 0};
    std::memcpy(code, thunk, sizeof thunk);
    std::memcpy(code + 3, &calls, 4);
    std::memcpy(code + 9, &found, 4);
    const auto call = CallBytes(site, hook.address);
    WriteHostBytes(site, call.data(), call.size());
    return hook;
}

bool RemoveChainingHook(const ChainingHook& hook) {
    if (CallSiteBytes(hook.site) != CallBytes(hook.site, hook.address)) return false;
    const auto call = CallBytes(hook.site, hook.found);
    WriteHostBytes(hook.site, call.data(), call.size());
    return true;
}

HostCallOutcome RunHostAimCall(const AimCallArgs& args) {
    const std::uint32_t words[5] = {static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(args.object)),
                                    static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(args.point)), args.arg2,
                                    args.arg3, args.arg4};
    volatile std::uint32_t* f = CallRecord(kAimCallRecord);
    for (int i = 0; i < 5; ++i) f[i] = words[i];
    return RunRoutine(aimRoutine, kAimCallRecord);
}

HostCallOutcome RunHostFrame() {
    return RunRoutine(frameRoutine, kFrameCallRecord);
}

void SetHostCallState(const ThreadState* state) {
    hostCallStateSet = state != nullptr;
    if (state) hostCallState = *state;
}

}  // namespace standin
