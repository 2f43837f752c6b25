#pragma once
// The one routine each processor's guard provides (SehGuardI386.cpp,
// SehGuardX64.cpp); RunGuarded in SehGuard.cpp is built on it.
#include <cstdint>

extern "C" {
// Runs body(context) inside a guard of its own; answers 0 when body returned,
// 1 when an exception ended it (the code then goes to *code when given).
std::uint32_t core_SehInvoke(void (*body)(void*), void* context, std::uint32_t* code);
}
