#pragma once
// The plug-in's exports, as a host declares them. Undecorated names at fixed
// ordinals (see Vexmira.def), cdecl, nothing thrown across them.

#include <cstdint>

extern "C" {

// Ordinal 1: the description text; the same address About returns.
const char* __cdecl LoadDll(void) noexcept;
// Ordinal 2: shows the dialog for path (null counts as empty) until it is
// closed. The first argument is not read. Always returns 0.
std::int32_t __cdecl DoMyJob(std::int32_t reserved, const char* path) noexcept;
// Ordinal 3: the description text.
const char* __cdecl About(void) noexcept;

using LoadDllFunction = const char*(__cdecl*)(void);
using DoMyJobFunction = std::int32_t(__cdecl*)(std::int32_t, const char*);
using AboutFunction = const char*(__cdecl*)(void);
}
