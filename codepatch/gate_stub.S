// The code of the call gates (call_gate.h), copied into each gate and never
// run where it stands. Absolute operands are placeholders: GATE + n stands
// for the address of the gate's word at offset n, and the 16-bit operand of
// the around gate's final `ret` for the number of argument bytes the callee
// removes. The copy puts the real values in.
//
// Both are entered by the call site's call, with the caller's return address
// on top and the call's stack arguments above it. Each builds an 8-aligned
// frame under EBX (whatever the caller's stack alignment), so that the mark
// (the gate's address, then MARK) always sits on a word boundary.
//
// The mark is up from before the handler word is read until after the
// handler has returned, and at no other time: a thread whose stack shows it
// is inside a handler, or about to be. Nothing but the handler runs under
// it: the game's functions are called with the mark down.
    .intel_syntax noprefix
    .set GATE,      0x7A7E0000
    .set TARGET,    GATE + 0
    .set BEFORE,    GATE + 4
    .set AFTER,     GATE + 8
    .set CONTEXT,   GATE + 12
    .set PRELUDE,   GATE + 28
    .set PRELUDE_ARGUMENT, GATE + 32
    .set MARK,      0x6A7E5EED
// The frame, from EBX: [ebx+0] 24 bytes of scratch, [ebx+24] the mark,
// [ebx+32] the caller's ECX, [ebx+36] its EDX; [ebp-4] the caller's EBX.
.macro open_frame
    push ebp
    mov ebp, esp
    build_frame
.endm
.macro build_frame
    push ebx
    lea ebx, [esp-40]
    and ebx, -8
    mov esp, ebx
    mov dword ptr [ebx+32], ecx
    mov dword ptr [ebx+36], edx
.endm
.macro mark
    mov dword ptr [ebx+24], GATE
    mov dword ptr [ebx+28], MARK
.endm
.macro unmark
    mov dword ptr [ebx+24], 0
.endm
.macro restore_caller_registers
    mov ecx, dword ptr [ebx+32]
    mov edx, dword ptr [ebx+36]
.endm
.macro close_frame
    mov ebx, dword ptr [ebp-4]
    leave
.endm
// Calls the handler in `reg` as handler(context, &arguments, &scratch).
.macro call_handler reg
    push ebx
    lea edx, [ebp+8]
    push edx
    push dword ptr ds:[CONTEXT]
    call \reg
    add esp, 12
.endm

    .section .rdata,"dr"

// The around gate:
//   1. when a `before` handler is set: calls it under the mark; when it
//      returns 0 (the arguments as they were) and no `after` handler is set,
//      jumps to `target` with the caller's own stack, and is done;
//   2. calls `target` with a copy of the arguments (the first may have been
//      replaced) and the caller's ECX and EDX, so that the function returns
//      here, into memory that outlives any module; the copy is one
//      `push dword ptr [ebp+4+4k]` per argument, last first, which the gate's
//      maker puts where the stub is cut (codepatch_gate_stub_copy);
//   3. when an `after` handler is set: the same as 1, the result kept;
//   4. returns the result in EAX:EDX, removing the argument bytes.
    .globl _codepatch_gate_stub_begin
    .globl _codepatch_gate_stub_copy
    .globl _codepatch_gate_stub_return
    .globl _codepatch_gate_stub_end
_codepatch_gate_stub_begin:
    open_frame
    mark
    mov eax, dword ptr ds:[BEFORE]     // read under the mark
    test eax, eax
    jz 1f
    call_handler eax
1:  unmark
    test eax, eax
    jnz 2f
    cmp dword ptr ds:[AFTER], 0
    jne 2f
    restore_caller_registers
    close_frame
    jmp dword ptr ds:[TARGET]
2:
_codepatch_gate_stub_copy:
    restore_caller_registers
    call dword ptr ds:[TARGET]
    mov esp, ebx                       // whatever the callee removed
    cmp dword ptr ds:[AFTER], 0
    je 6f
    mark
    mov ecx, dword ptr ds:[AFTER]      // read again, under the mark
    test ecx, ecx
    jz 5f
    push eax
    push edx
    call_handler ecx
    pop edx
    pop eax
5:  unmark
6:  close_frame
_codepatch_gate_stub_return:
    ret 0x7A7E
_codepatch_gate_stub_end:

// The jump-on gate, for a site with a `before` handler only:
//   1. no handler set: jumps to `target` at once, with the caller's stack
//      (after a push ebp; mov ebp, esp that a hooking library can move);
//   2. calls `prelude` (when set; C convention, one argument) with the mark
//      down: it is the game's, and may block or never come back;
//   3. calls the handler under the mark, as before(context, &arguments,
//      &scratch), the prelude's result in the scratch's first word;
//   4. when the handler returns nonzero, makes the this-call it described in
//      the scratch (function, object, two arguments) with the mark down;
//   5. jumps to `target` with the caller's stack and registers: nothing of
//      the gate or of a module is left on the stack while the game runs.
// A handler replaces arguments in place and keeps what they point to where
// it outlives the module (the game's function reads it after the jump).
    .globl _codepatch_jump_stub_begin
    .globl _codepatch_jump_stub_end
_codepatch_jump_stub_begin:
    push ebp
    mov ebp, esp
    cmp dword ptr ds:[BEFORE], 0
    je 8f
    build_frame
    xor eax, eax
    mov ecx, dword ptr ds:[PRELUDE]
    test ecx, ecx
    jz 1f
    push dword ptr ds:[PRELUDE_ARGUMENT]
    call ecx
    mov esp, ebx
1:  mov dword ptr [ebx+0], eax
    mark
    mov eax, dword ptr ds:[BEFORE]     // again, under the mark: the module may be gone
    test eax, eax
    jz 2f
    call_handler eax
2:  unmark
    test eax, eax
    jz 3f
    // The follow-up this-call: [ebx+4] function, [ebx+8] object,
    // [ebx+12] and [ebx+16] its two arguments, pushed last first.
    mov ecx, dword ptr [ebx+8]
    push dword ptr [ebx+16]
    push dword ptr [ebx+12]
    call dword ptr [ebx+4]
    mov esp, ebx
3:  restore_caller_registers
    close_frame
    jmp dword ptr ds:[TARGET]
8:  pop ebp
    jmp dword ptr ds:[TARGET]
_codepatch_jump_stub_end:
