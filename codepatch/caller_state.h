// What a hooked call hands back to the caller as it found it: the thread's
// last error, the direction flag, the x87 control word and MXCSR. A game sets
// the x87 unit to single precision and SSE to flush denormals to zero; code
// of ours that reads numbers or calls the system must neither see those modes
// nor leave its own behind, or the game could tell a hooked call from its own.
#pragma once

#include <cstdint>

namespace codepatch {

// For its lifetime: the direction flag clear, the x87 unit and SSE in the
// modes compiled code expects (round to nearest, 64-bit x87 precision, all
// exceptions masked, no flush to zero). The destructor puts back the four
// as the constructor found them.
class caller_state_guard {
public:
    static constexpr std::uint16_t own_x87_control = 0x037F;
    static constexpr std::uint32_t own_mxcsr = 0x1F80;

    caller_state_guard() noexcept;
    ~caller_state_guard();
    caller_state_guard(const caller_state_guard&) = delete;
    caller_state_guard& operator=(const caller_state_guard&) = delete;

private:
    unsigned long last_error_;
    std::uint32_t flags_;
    std::uint32_t mxcsr_ = own_mxcsr;
    std::uint16_t x87_control_;
};

}  // namespace codepatch
