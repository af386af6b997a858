#include "tools/mvmhost/runtime/misaligned_call.h"

#if MV_MISALIGNED_CALLS

#define MV_TEXT(x) #x
#define MV_SYMBOL_TEXT(prefix, name) MV_TEXT(prefix) #name
#define MV_SYMBOL(name) MV_SYMBOL_TEXT(__USER_LABEL_PREFIX__, name)

// The stack is aligned down to 16 bytes, then lowered by a pad such that once the arguments
// are pushed it stands `offset` past the boundary; ebp brings it back.
asm(".text\n"
    ".globl " MV_SYMBOL(mvmhost_callMisaligned) "\n"
    MV_SYMBOL(mvmhost_callMisaligned) ":\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  movl 8(%ebp), %eax\n"   // function
    "  movl 12(%ebp), %esi\n"  // args
    "  movl 16(%ebp), %ecx\n"  // count
    "  movl 20(%ebp), %edx\n"  // offset
    "  andl $-16, %esp\n"
    "  leal (%edx,%ecx,4), %edi\n"
    "  negl %edi\n"
    "  andl $15, %edi\n"
    "  subl %edi, %esp\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%esi,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *%eax\n"
    "  leal -8(%ebp), %esp\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n");

#endif
