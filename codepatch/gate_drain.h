// Waiting, at a module's unload, for the threads inside its gates' handlers
// (call_gate.h), without stopping any thread.
//
// Once the handlers are cleared, FlushProcessWriteBuffers makes every
// processor's pending writes visible: a thread that read a handler before
// the clear has its mark on its stack by then, and one that reads the word
// after it finds no handler and passes straight through. Each other thread's
// stack, [StackLimit, StackBase) as its thread information block gives it,
// is then read while the thread runs, for the mark of one of the module's
// gates, and read again until no mark is left or the bound has run out.
//
// The game's functions never run under the mark (the gates call them), so
// what is waited for is the module's own handlers only.
#pragma once

#include <cstdint>

#include "codepatch/gate_registry.h"

namespace codepatch {

struct gate_drain {
    std::uint32_t threads_waited_for = 0;     // inside a handler at the first look
    std::uint32_t threads_not_inspected = 0;  // whose stack could not be read: never taken as outside
    std::uint32_t threads_still_inside = 0;   // inside when the bound ran out
    double milliseconds = 0;
    // True when no thread can be inside a handler any more.
    bool clear() const { return threads_not_inspected == 0 && threads_still_inside == 0; }
};

// Call after clearing the handlers of `gates`. Waits at most `bound_milliseconds` for
// threads found inside; a thread inside the function a gate calls (the
// game's) is not inside a handler, and is not waited for.
gate_drain drain_call_gates(const gate_registry& gates, std::uint32_t bound_milliseconds);

}  // namespace codepatch
