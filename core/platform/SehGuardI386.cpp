#include "core/platform/SehGuardImpl.h"

#include <windows.h>

// The guard of the 32-bit build: how it works, and why this way.
//
// g++ for 32-bit Windows cannot catch structured exceptions with catch, and
// the two usual workarounds differ in who sees an exception first:
// - a vectored handler sees every first-chance exception of the process,
//   also those that a foreign library raises and handles itself inside the
//   call, and would have to guess which ones are "ours";
// - a frame in the thread's exception chain (the list that starts at fs:[0])
//   is asked only after every frame registered further down the stack, that
//   is, inside the guarded call, has declined.
// The guard therefore registers one frame of its own per call, in a small
// assembly routine. When an exception reaches that frame, the handler unwinds
// the frames above it (RtlUnwind lets their own unwind handlers run and leaves
// fs:[0] pointing at the guard's frame), then resumes in the routine's
// epilogue with the stack pointer reset to the frame, unlinks the frame and
// reports the exception code. The frame lives on the calling thread's own
// stack and the chain is per thread, so nested guards and guards on several
// threads at once need no shared state at all.

namespace {

// The guard's registration record as laid out by the assembly routine below:
// the two system fields, then the outcome.
struct GuardFrame {
  GuardFrame* next;
  void* handler;
  std::uint32_t code;
  std::uint32_t raised;
};

// Flags that mark the handler call of an unwind pass (unwinding, exit unwind,
// target unwind, collided unwind).
constexpr DWORD UnwindFlags = 0x66;

}  // namespace

extern "C" {
// Assembly: lets the frames above the guard frame unwind, then continues in
// core_SehInvoke's epilogue for that frame. RtlUnwind need not keep the
// callee-saved registers, so the frame is carried across it on the stack.
using RtlUnwindFunction = void(WINAPI*)(void*, void*, EXCEPTION_RECORD*, void*);
[[noreturn]] void core_SehUnwindAndResume(void* frame, EXCEPTION_RECORD* record, RtlUnwindFunction unwind);
// Called by the system's exception dispatcher for the guard frame.
EXCEPTION_DISPOSITION __cdecl core_SehHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* context,
                                              void* dispatcher);
}

// Frame layout used below (offsets from the frame, which is esp while body
// runs): 0 next, 4 handler, 8 code, 12 raised; above it the saved edi, esi,
// ebx and ebp, so ebp = frame + 28.
asm(R"(
    .text
    .p2align 4
    .globl _core_SehInvoke
_core_SehInvoke:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $16, %esp
    movl %fs:0, %eax
    movl %eax, 0(%esp)
    movl $_core_SehHandler, 4(%esp)
    movl $0, 8(%esp)
    movl $0, 12(%esp)
    movl %esp, %fs:0
    pushl 12(%ebp)
    call *8(%ebp)
    addl $4, %esp
core_SehInvokeExit:
    movl 0(%esp), %eax
    movl %eax, %fs:0
    movl 16(%ebp), %ecx
    testl %ecx, %ecx
    jz 1f
    movl 8(%esp), %edx
    movl %edx, (%ecx)
1:
    movl 12(%esp), %eax
    addl $16, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .p2align 4
    .globl _core_SehUnwindAndResume
_core_SehUnwindAndResume:
    movl 4(%esp), %eax
    movl 8(%esp), %ecx
    movl 12(%esp), %edx
    pushl %eax
    pushl $0
    pushl %ecx
    pushl $2f
    pushl %eax
    call *%edx
2:
    popl %eax
    movl %eax, %esp
    leal 28(%esp), %ebp
    jmp core_SehInvokeExit
)");

extern "C" __attribute__((used))
EXCEPTION_DISPOSITION __cdecl core_SehHandler(EXCEPTION_RECORD* record, void* establisher, CONTEXT* /*context*/,
                                              void* /*dispatcher*/) {
  if ((record->ExceptionFlags & UnwindFlags) != 0) return ExceptionContinueSearch;
  auto* frame = static_cast<GuardFrame*>(establisher);
  frame->code = record->ExceptionCode;
  frame->raised = 1;
  // Let the frames registered inside the guarded call clean up; afterwards
  // the chain starts at our frame again.
  core_SehUnwindAndResume(frame, record, &RtlUnwind);
}
