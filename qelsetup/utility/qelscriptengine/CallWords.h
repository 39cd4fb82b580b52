#pragma once

#include <cstdint>

// Calls function with count 32-bit words as its stack arguments (words[0] is the first argument,
// at the lowest address) and returns what it left in EAX. The stack pointer is saved before the
// words are pushed and restored after the call, so the stack is balanced whether the callee
// removed its arguments (stdcall) or left them (cdecl), and whatever the argument count.
extern "C" uint32_t QelCallWords(const void* function, const uint32_t* words, uint32_t count);
