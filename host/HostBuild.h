// Where the host image is loaded, how preferred-base host addresses map into
// it, and which build of the host executable is running.
#pragma once

#include <cstdint>

#include "codepatch/branch.h"
#include "codepatch/patch_address.h"
#include "host/GameCheck.h"
#include "host/HostInterface.h"

// Both hooked calls are retargeted by one locked instruction, which needs
// each call's 4 displacement bytes inside one cache line (the game's image is
// used only at its preferred base, so these are the addresses at run time).
static_assert(codepatch::displacement_in_one_line(host::kAimPointCallSite), "the aim call's displacement");
static_assert(codepatch::displacement_in_one_line(host::kFrameCallSite), "the frame call's displacement");

using HostBuild = std::int32_t;  // 1001, 1002, 1011, 1101, 1111, 3200, 3210; 0: unrecognised

// Load address of the host executable (GetModuleHandleA(NULL)), computed once.
std::uint32_t GetHostImageBase();

// Bytes the host executable's image spans from its base (its PE header's
// SizeOfImage), computed once.
std::uint32_t GetHostImageSize();

// base + address - 0x400000, modulo 2^32.
constexpr std::uint32_t RebaseHostAddressFrom(std::uint32_t imageBase, host::Address address) {
    return host::RebaseFrom(imageBase, address);
}
// The same for the running host's image base.
std::uint32_t RebaseHostAddress(host::Address address);

// Index into host::kBuildProbes of the first probe whose whole word matches in
// a host image loaded at imageBase, or -1. A probe in committed memory is read,
// whatever its protection: as it stands where it may be read, otherwise
// inside its protection bracket (PAGE_NOACCESS and guard pages); only
// uncommitted or free memory counts as a mismatch.
int FindMatchingBuildProbe(std::uint32_t imageBase);

// A host image loaded at `base`, read in place, as FindMatchingBuildProbe
// reads it.
class LoadedImage : public host::GameImage {
public:
    LoadedImage(std::uint32_t base, std::uint32_t size) : base_(base), size_(size) {}
    std::uint32_t Base() const override { return base_; }
    std::uint32_t Size() const override { return size_; }
    bool Read(std::uint32_t address, void* into, std::uint32_t size) const override;
    bool Executable(std::uint32_t address) const override;

private:
    std::uint32_t base_;
    std::uint32_t size_;
};

// Probes the running host (first match wins); 0 when nothing matches.
HostBuild DetectHostBuild();

// DetectHostBuild, run once per process; later calls return the first result.
HostBuild GetHostBuild();

// A call site of the host as the patching layer takes it: a type whose
// address() is the site in the loaded image.
template <host::Address SiteAddress>
struct HostCallSite {
    static codepatch::patch_address address() { return codepatch::patch_address(RebaseHostAddress(SiteAddress)); }
};
