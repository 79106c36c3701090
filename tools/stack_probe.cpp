// See stack_probe.h. Written in assembly so that no compiler-generated frame
// code can mend a wrong stack adjustment by the callee.
asm(R"(
        .intel_syntax noprefix
        .text
        .globl _kestrune_call_measuring_esp
_kestrune_call_measuring_esp:
        push ebp
        mov ebp, esp
        push ebx
        push esi
        push edi
        mov ecx, [ebp+16]
        mov esi, [ebp+12]
        sub esp, ecx
        and esp, -16
        mov edi, esp
        cld
        rep movsb
        mov ebx, esp            /* ESP at the call; EBX is callee-saved */
        call dword ptr [ebp+8]
        mov ecx, [ebp+20]
        mov [ecx], eax
        mov eax, esp
        sub eax, ebx
        lea esp, [ebp-12]
        pop edi
        pop esi
        pop ebx
        pop ebp
        ret
        .att_syntax prefix
)");
