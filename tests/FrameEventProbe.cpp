// A module that uses the frame event the way the plugin does. hooking_tests
// loads it into the stand-in host per scenario (every load starts with a
// fresh frame event) and frees it to watch the unload.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "host/FrameEvent.h"

namespace {

using Logger = void (*)(const char*);
Logger logger = nullptr;

void Log(const std::string& text) {
    if (logger) logger(text.c_str());
}

void PlainA() {
    Log("plain A");
}
void PlainB() {
    Log("plain B");
}

// A function object that reports when the frame event runs it and, when it
// is destroyed at unload, what the call site looks like then.
struct Callback {
    int id;
    std::shared_ptr<int> watch;  // the last copy to go reports the unload
    void operator()() const { Log("callback " + std::to_string(id)); }
    ~Callback() {
        if (!watch || watch.use_count() != 1) return;
        const auto* site = reinterpret_cast<const unsigned char*>(RebaseHostAddress(host::kFrameCallSite));
        char bytes[16];
        std::snprintf(bytes, sizeof bytes, "%02X%02X%02X%02X%02X", site[0], site[1], site[2], site[3], site[4]);
        Log("callback " + std::to_string(id) + " destroyed; site " + bytes);
    }
};

// The module's one frame event, made at its first use and gone at its unload.
FrameEvent& GetFrameEvent() {
    static codepatch::gate_registry gates(L"frame_event_probe");
    static FrameEvent event(gates);
    return event;
}

FrameEvent::Phase List(int which) {
    return which == 0 ? FrameEvent::Phase::Before : FrameEvent::Phase::After;
}

}  // namespace

extern "C" __declspec(dllexport) void probe_set_logger(Logger log) {
    logger = log;
}

// kind 0: plain function A, 1: plain function B, 2: function object `id`,
// 3: function object `id` that reports its destruction.
extern "C" __declspec(dllexport) void probe_register(int list, int kind, int id) {
    FrameEvent& event = GetFrameEvent();
    switch (kind) {
        case 0:
            event.AddCallback(List(list), &PlainA);
            break;
        case 1:
            event.AddCallback(List(list), &PlainB);
            break;
        case 2:
            event.AddCallback(List(list), Callback{id, nullptr});
            break;
        default:
            event.AddCallback(List(list), Callback{id, std::make_shared<int>(0)});
            break;
    }
}

extern "C" __declspec(dllexport) void probe_state(int* hookDecided, int* before, int* after) {
    FrameEvent& event = GetFrameEvent();
    *hookDecided = event.State() != FrameEvent::HookState::Undecided;
    *before = static_cast<int>(event.Callbacks(FrameEvent::Phase::Before).size());
    *after = static_cast<int>(event.Callbacks(FrameEvent::Phase::After).size());
}
