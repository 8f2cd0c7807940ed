// Counting the calls that are inside a hook, so that an unload can wait for
// them to leave before the hook's code goes away.
#pragma once

#include <cstdint>

namespace codepatch {

// Counts one call for as long as it lives: one locked increment and one
// locked decrement, no lock and no allocation.
class in_flight_count {
public:
    explicit in_flight_count(std::uint32_t& count) : count_(count) { __atomic_add_fetch(&count_, 1, __ATOMIC_SEQ_CST); }
    ~in_flight_count() { __atomic_sub_fetch(&count_, 1, __ATOMIC_RELEASE); }
    in_flight_count(const in_flight_count&) = delete;
    in_flight_count& operator=(const in_flight_count&) = delete;

private:
    std::uint32_t& count_;
};

inline std::uint32_t calls_in_flight(const std::uint32_t& count) {
    return __atomic_load_n(&count, __ATOMIC_ACQUIRE);
}

}  // namespace codepatch
