#include "core/platform/SehGuardImpl.h"

#include <windows.h>

// The guard of the 64-bit build.
//
// x64 has no exception chain on the stack: the system finds handlers through
// each function's unwind table. The assembly routine below therefore names
// its own exception handler in its table (.seh_handler). The dispatcher asks
// that handler only after every frame further down the stack, inside the
// guarded call, has declined, so a foreign library still sees and handles
// its own exceptions first. When an exception reaches the guard, RtlUnwindEx
// unwinds the frames above it (their unwind handlers run) and resumes at
// core_SehResume with the stack pointer of the routine's own frame and the
// exception code in rax; that path reports the code and returns normally.
// Everything lives on the calling thread's stack, so nested guards and
// guards on several threads need no shared state.

extern "C" {
// Assembly: the resume point inside core_SehInvoke after an exception.
void core_SehResume();
// Called by the system's exception dispatcher for core_SehInvoke's frame.
EXCEPTION_DISPOSITION core_SehHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                      DISPATCHER_CONTEXT* dispatch);
}

// Frame (rsp after the prologue): 0-31 the callee's home area, 32 the
// pointer for the code, 40 the return address. rsp is 16-byte aligned at the
// call, as the calling convention requires.
asm(R"(
    .text
    .p2align 4
    .globl core_SehInvoke
    .def core_SehInvoke; .scl 2; .type 32; .endef
    .seh_proc core_SehInvoke
core_SehInvoke:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .seh_handler core_SehHandler, @except
    movq %r8, 32(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    nop
    xorl %eax, %eax
    jmp 2f
    .globl core_SehResume
core_SehResume:
    movq 32(%rsp), %r8
    testq %r8, %r8
    jz 1f
    movl %eax, (%r8)
1:
    movl $1, %eax
2:
    addq $40, %rsp
    ret
    .seh_endproc
)");

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION core_SehHandler(EXCEPTION_RECORD* record, void* establisher,
                                                                       CONTEXT* /*context*/,
                                                                       DISPATCHER_CONTEXT* dispatch) {
  if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0) return ExceptionContinueSearch;
  // Unwinds the frames of the guarded call and continues at core_SehResume;
  // does not return here.
  RtlUnwindEx(establisher, reinterpret_cast<void*>(&core_SehResume), record,
              reinterpret_cast<void*>(static_cast<ULONG_PTR>(record->ExceptionCode)), dispatch->ContextRecord,
              dispatch->HistoryTable);
  return ExceptionContinueSearch;
}
