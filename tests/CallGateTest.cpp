// Call gates on their own, in real x86: each gate is called as the function
// it stands for would be (its arguments pushed, ECX loaded), by a caller
// that checks what comes back: the result, the stack pointer, EBX, ESI, EDI.
// A table of shapes (conventions and argument counts, and the jump-on gate),
// handlers and substitution.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "codepatch/call_gate.h"
#include "codepatch/gate_registry.h"

namespace {

// What the caller found after the call: EAX, and how far ESP and the three
// callee-saved registers are from where they should be.
struct Return {
    std::uint32_t eax;
    std::int32_t stackOff;
    std::uint32_t savedRegistersChanged;
};

}  // namespace

// call_as(function, ecx, arguments, count, caller_cleanup_bytes, &return)
extern "C" void __cdecl call_as(std::uint32_t, std::uint32_t, const std::uint32_t*, std::uint32_t, std::uint32_t,
                                Return*);
__asm__(
    ".text\n"
    "_call_as:\n"
    "    push %ebp\n"
    "    mov %esp, %ebp\n"
    "    push %ebx\n"
    "    push %esi\n"
    "    push %edi\n"
    "    mov 16(%ebp), %esi\n"
    "    mov 20(%ebp), %ecx\n"
    "1:  test %ecx, %ecx\n"
    "    jz 2f\n"
    "    dec %ecx\n"
    "    pushl (%esi,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  mov 20(%ebp), %ebx\n"
    "    lea (%esp,%ebx,4), %ebx\n"  // ESP once the arguments are gone
    "    mov $0x51515151, %esi\n"
    "    mov $0xD1D1D1D1, %edi\n"
    "    mov 12(%ebp), %ecx\n"
    "    call *8(%ebp)\n"
    "    add 24(%ebp), %esp\n"
    "    mov 28(%ebp), %ecx\n"
    "    mov %eax, (%ecx)\n"
    "    mov %esp, %edx\n"
    "    sub %ebx, %edx\n"
    "    mov %edx, 4(%ecx)\n"
    "    xor $0x51515151, %esi\n"
    "    xor $0xD1D1D1D1, %edi\n"
    "    or %edi, %esi\n"
    "    mov %esi, 8(%ecx)\n"
    "    lea -12(%ebp), %esp\n"
    "    pop %edi\n"
    "    pop %esi\n"
    "    pop %ebx\n"
    "    pop %ebp\n"
    "    ret\n");

namespace {

struct Seen {
    int calls = 0;
    void* self = nullptr;
    std::uint32_t args[4] = {};
};
Seen target, prelude, followUp;
int beforeRuns = 0, afterRuns = 0;

std::uint32_t Result(std::uint32_t a, std::uint32_t b, std::uint32_t c = 0, std::uint32_t d = 0) {
    return 0x10000 + a + 2 * b + 3 * c + 4 * d;
}
std::uint32_t __cdecl TargetCdecl0() {
    ++target.calls;
    return 0x4242;
}
std::uint32_t __cdecl TargetCdecl2(std::uint32_t a, std::uint32_t b) {
    target = {target.calls + 1, nullptr, {a, b}};
    return Result(a, b);
}
std::uint32_t __stdcall TargetStdcall2(std::uint32_t a, std::uint32_t b) {
    target = {target.calls + 1, nullptr, {a, b}};
    return Result(a, b);
}
std::uint32_t __thiscall TargetThiscall4(void* self, std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                         std::uint32_t d) {
    target = {target.calls + 1, self, {a, b, c, d}};
    return Result(a, b, c, d);
}
std::uint32_t __cdecl Prelude(std::int32_t which) {
    prelude = {prelude.calls + 1, nullptr, {static_cast<std::uint32_t>(which)}};
    return 0x7E1E0000u + static_cast<std::uint32_t>(which);
}
void __thiscall FollowUp(void* self, std::uint32_t a, std::uint32_t b) {
    followUp = {followUp.calls + 1, self, {a, b}};
}

constexpr std::uint32_t kSubstitute = 0x5B5B5B5B;

std::uint32_t Address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

// Handlers: `context` says whether to substitute.
std::uint32_t __cdecl Before(void* substitute, std::uint32_t* arguments, void*) {
    ++beforeRuns;
    if (!substitute) return 0;
    arguments[0] = kSubstitute;
    return 1;
}
std::uint32_t __cdecl BeforeJumpOn(void* substitute, std::uint32_t* arguments, void* scratch) {
    ++beforeRuns;
    if (!substitute) return 0;
    auto& call = *static_cast<codepatch::gate_follow_up*>(scratch);
    call.function = Address(reinterpret_cast<const void*>(&FollowUp));
    call.object = call.prelude_result;
    call.arguments[0] = 0xF0F0;
    call.arguments[1] = arguments[1];
    arguments[0] = kSubstitute;
    return 1;
}
std::uint32_t __cdecl After(void*, std::uint32_t*, void*) {
    ++afterRuns;
    return 0;
}

struct Shape {
    std::uint32_t site;  // one gate per shape: a page holds fifteen
    const char* name;
    const void* function;
    codepatch::gate_shape shape;
    std::uint32_t callerCleanup;  // bytes the caller removes (cdecl)
};
struct Case {
    Shape shape;
    bool before, after, substitute;
};

std::vector<Case> Cases() {
    const Shape shapes[] = {
        {1, "cdecl0", reinterpret_cast<const void*>(&TargetCdecl0), {0, false, false}, 0},
        {2, "cdecl2", reinterpret_cast<const void*>(&TargetCdecl2), {2, false, false}, 8},
        {3, "stdcall2", reinterpret_cast<const void*>(&TargetStdcall2), {2, true, false}, 0},
        {4, "thiscall4", reinterpret_cast<const void*>(&TargetThiscall4), {4, true, false}, 0},
        {5, "jumpon4", reinterpret_cast<const void*>(&TargetThiscall4), {4, true, true}, 0},
    };
    std::vector<Case> cases;
    for (const Shape& shape : shapes)
        for (int handlers = 0; handlers < 4; ++handlers)
            for (bool substitute : {false, true}) {
                const bool before = handlers & 1, after = handlers & 2;
                if (shape.shape.jump_on && after) continue;  // a jump-on gate has no after
                if (substitute && (!before || shape.shape.argument_words == 0)) continue;  // nothing to replace
                cases.push_back({shape, before, after, substitute});
            }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    return std::string(c.shape.name) + (c.before ? "_before" : "") + (c.after ? "_after" : "") +
           (c.substitute ? "_substituting" : "");
}

codepatch::gate_registry& Gates() {
    static codepatch::gate_registry gates(L"hooking_tests.gates");
    return gates;
}

class CallGates : public testing::TestWithParam<Case> {};

TEST_P(CallGates, TheCallerGetsTheCalleesResultWithItsStackAndRegistersAsTheCalleeLeavesThem) {
    const Case& c = GetParam();
    codepatch::call_gate* gate =
        Gates().find(codepatch::patch_address(c.shape.site), Address(c.shape.function), c.shape.shape);
    ASSERT_NE(gate, nullptr);
    codepatch::gate_prelude withPrelude;
    if (c.shape.shape.jump_on) {
        withPrelude.function = Address(reinterpret_cast<const void*>(&Prelude));
        withPrelude.argument = static_cast<std::uint32_t>(-1);
    }
    codepatch::set_gate_prelude(*gate, withPrelude);
    const codepatch::gate_handler before = c.shape.shape.jump_on ? &BeforeJumpOn : &Before;
    codepatch::set_gate_handlers(*gate, c.before ? before : nullptr, c.after ? &After : nullptr,
                                 c.substitute ? reinterpret_cast<void*>(1) : nullptr);
    target = prelude = followUp = Seen{};
    beforeRuns = afterRuns = 0;

    int object = 0;
    const std::uint32_t arguments[4] = {11, 22, 33, 44};
    Return back{};
    call_as(codepatch::gate_address(*gate), Address(&object), arguments, c.shape.shape.argument_words,
            c.shape.callerCleanup, &back);
    codepatch::clear_gate_handlers(*gate);

    EXPECT_EQ(target.calls, 1);
    EXPECT_EQ(back.stackOff, 0) << "ESP after the call, from where it belongs";
    EXPECT_EQ(back.savedRegistersChanged, 0u) << "ESI or EDI changed";
    EXPECT_EQ(beforeRuns, c.before ? 1 : 0);
    EXPECT_EQ(afterRuns, c.after ? 1 : 0);
    const std::uint32_t first = c.substitute ? kSubstitute : arguments[0];
    switch (c.shape.shape.argument_words) {
        case 0:
            EXPECT_EQ(back.eax, 0x4242u);
            break;
        case 2:
            EXPECT_EQ(target.args[0], first);
            EXPECT_EQ(target.args[1], arguments[1]);
            EXPECT_EQ(back.eax, Result(first, arguments[1]));
            break;
        default:
            EXPECT_EQ(target.self, &object) << "ECX reached the callee";
            for (int i = 0; i < 4; ++i) EXPECT_EQ(target.args[i], i == 0 ? first : arguments[i]) << i;
            EXPECT_EQ(back.eax, Result(first, arguments[1], arguments[2], arguments[3]));
            break;
    }
    if (c.shape.shape.jump_on) {
        EXPECT_EQ(prelude.calls, c.before ? 1 : 0) << "the prelude runs for the handler only";
        if (c.before) {
            EXPECT_EQ(prelude.args[0], 0xFFFFFFFFu);
        }
        EXPECT_EQ(followUp.calls, c.substitute ? 1 : 0);
        if (c.substitute) {
            EXPECT_EQ(Address(followUp.self), 0x7E1E0000u - 1u) << "the follow-up's object: the prelude's result";
            EXPECT_EQ(followUp.args[0], 0xF0F0u);
            EXPECT_EQ(followUp.args[1], arguments[1]);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CallGates, testing::ValuesIn(Cases()), CaseName);

}  // namespace
