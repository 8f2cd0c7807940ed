// The code of a call gate (call_gate.h), copied into each gate and never run
// where it stands. Its absolute operands are placeholders: GATE + n stands
// for the address of the gate's word at offset n, and the 16-bit operand of
// the final `ret` for the number of argument bytes the callee removes. The
// copy puts the real values in.
//
// Entered by the call site's call, with the caller's return address on top
// and the call's stack arguments above it:
//   1. when a `before` handler is set: marks the frame, calls
//      before(context, &arguments, &scratch), unmarks the frame; when that
//      returns 0 (the arguments as they were) and no `after` handler is set,
//      jumps to `target` with the caller's own stack, and is done;
//   2. calls `target` with a copy of the arguments (the first may have been
//      replaced) and the caller's ECX and EDX, so that the function returns
//      here, into memory that outlives any module; the copy is one
//      `push dword ptr [ebp+4+4k]` per argument, last first, which the gate's
//      maker puts where the stub is cut (codepatch_gate_stub_copy);
//   3. when an `after` handler is set: the same as 1, the result kept;
//   4. returns the result in EAX:EDX, removing the argument bytes.
// The mark (the gate's address and MARK, at EBP-24) is up from before the
// handler is read until after it has returned: a thread stopped anywhere in
// between shows it on its stack, which is what an unload looks for.
    .intel_syntax noprefix
    .set GATE,      0x7A7E0000
    .set TARGET,    GATE + 0
    .set BEFORE,    GATE + 4
    .set AFTER,     GATE + 8
    .set CONTEXT,   GATE + 12
    .set MARK,      0x6A7E5EED
// Calls the handler in `reg` as handler(context, &arguments, &scratch).
.macro call_handler reg
    lea edx, [ebp-16]
    push edx
    lea edx, [ebp+8]
    push edx
    push dword ptr ds:[CONTEXT]
    call \reg
    add esp, 12
.endm
    .section .rdata,"dr"
    .globl _codepatch_gate_stub_begin
    .globl _codepatch_gate_stub_copy
    .globl _codepatch_gate_stub_return
    .globl _codepatch_gate_stub_end
_codepatch_gate_stub_begin:
    push ebp
    mov ebp, esp
    sub esp, 24                        // [ebp-16] scratch, [ebp-24] mark
    push ecx                           // [ebp-28]
    push edx                           // [ebp-32]
    mov dword ptr [ebp-24], GATE
    mov dword ptr [ebp-20], MARK
    mov eax, dword ptr ds:[BEFORE]     // read under the mark
    test eax, eax
    jz 1f
    call_handler eax
1:  mov dword ptr [ebp-24], 0
    // Nothing to come back for (the arguments as the caller pushed them, no
    // `after` handler): the target returns straight to the caller.
    test eax, eax
    jnz 2f
    cmp dword ptr ds:[AFTER], 0
    jne 2f
    mov edx, dword ptr [ebp-32]
    mov ecx, dword ptr [ebp-28]
    leave
    jmp dword ptr ds:[TARGET]
2:
_codepatch_gate_stub_copy:
    mov ecx, dword ptr [ebp-28]
    mov edx, dword ptr [ebp-32]
    call dword ptr ds:[TARGET]
    lea esp, [ebp-32]                  // whatever the callee removed
    cmp dword ptr ds:[AFTER], 0
    je 6f
    mov dword ptr [ebp-24], GATE
    mov dword ptr [ebp-20], MARK
    mov ecx, dword ptr ds:[AFTER]      // read again, under the mark
    test ecx, ecx
    jz 5f
    push eax
    push edx
    call_handler ecx
    pop edx
    pop eax
5:  mov dword ptr [ebp-24], 0
6:  leave
_codepatch_gate_stub_return:
    ret 0x7A7E
_codepatch_gate_stub_end:
