#include "codepatch/caller_state.h"

#include <windows.h>

namespace codepatch {

namespace {

constexpr std::uint32_t direction_flag = 1u << 10;

// SSE's control register exists from the Pentium III on.
bool has_sse() {
    static const bool present = IsProcessorFeaturePresent(PF_XMMI_INSTRUCTIONS_AVAILABLE) != 0;
    return present;
}

// The thread's last error where GetLastError and SetLastError keep it: the
// thread environment block, at FS:0x34.
unsigned long read_last_error() {
    unsigned long value;
    __asm__ volatile("movl %%fs:0x34, %0" : "=r"(value));
    return value;
}

void write_last_error(unsigned long value) {
    __asm__ volatile("movl %0, %%fs:0x34" : : "r"(value) : "memory");
}

}  // namespace

caller_state_guard::caller_state_guard() noexcept : last_error_(read_last_error()) {
    __asm__ volatile("pushfl\n\tpopl %0\n\tcld" : "=r"(flags_) : : "cc", "memory");
    __asm__ volatile("fnstcw %0" : "=m"(x87_control_));
    if (x87_control_ != own_x87_control) {
        const std::uint16_t own = own_x87_control;
        __asm__ volatile("fldcw %0" : : "m"(own));
    }
    if (has_sse()) {
        __asm__ volatile("stmxcsr %0" : "=m"(mxcsr_));
        if (mxcsr_ != own_mxcsr) {
            const std::uint32_t own = own_mxcsr;
            __asm__ volatile("ldmxcsr %0" : : "m"(own));
        }
    }
}

caller_state_guard::~caller_state_guard() {
    if (mxcsr_ != own_mxcsr) __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr_));
    if (x87_control_ != own_x87_control) __asm__ volatile("fldcw %0" : : "m"(x87_control_));
    if (flags_ & direction_flag) __asm__ volatile("std" : : : "cc", "memory");
    write_last_error(last_error_);
}

}  // namespace codepatch
