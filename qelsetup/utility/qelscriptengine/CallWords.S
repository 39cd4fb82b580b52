# uint32_t __cdecl QelCallWords(const void* function, const uint32_t* words, uint32_t count)
	.intel_syntax noprefix
	.text
	.globl _QelCallWords
	.def _QelCallWords; .scl 2; .type 32; .endef
_QelCallWords:
	push ebp
	mov ebp, esp
	push ebx
	push esi
	push edi
	mov ebx, esp                # the stack pointer to come back to, whatever the callee does
	mov ecx, [ebp+16]
	lea eax, [ecx*4]
	sub esp, eax
	and esp, -16                # the callee finds its arguments 16-byte aligned
	mov esi, [ebp+12]
	mov edi, esp
	cld
	rep movsd                   # words[0] lands at the lowest address, as if pushed last
	call dword ptr [ebp+8]
	mov esp, ebx
	pop edi
	pop esi
	pop ebx
	pop ebp
	ret
