// Layout of the stand-in host's image: what lies where, beyond the addresses
// of the real host interface (host/HostInterface.h).
#pragma once

#include <cstdint>

namespace standin {

constexpr std::uint32_t kProbeAreaAddress = 0x401000;  // 16 bytes at the start of .text
constexpr std::uint32_t kHostRangeBegin = 0x41F000;    // the image array covers at least
constexpr std::uint32_t kHostRangeEnd = 0x8D0000;      //   this range
constexpr std::uint32_t kHostCodeBegin = 0x520000;     // pages that hold host code
constexpr std::uint32_t kHostCodeEnd = 0x580000;       //   (execute + read only)

// Host functions of the stand-in that the real host interface leaves open.
constexpr std::uint32_t kHostFrameFunction = 0x53F0A0;  // called from 0x53E981

// Call records: scratch data where the host routines take their arguments
// and leave the registers they find after the call.
constexpr std::uint32_t kAimCallRecord = 0x700000;
constexpr std::uint32_t kFrameCallRecord = 0x700100;

}  // namespace standin
