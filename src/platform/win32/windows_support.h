// Private to the Win32 platform: the Windows headers and the runtime-library
// entry points that the mingw headers rename or hide.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>

// msvcrt.dll's own wildcard search, which fills the architecture's _finddata_t
// (find.cpp). The mingw headers map _findfirst to other exports; these are the
// originals.
extern "C" {
__declspec(dllimport) intptr_t __cdecl _findfirst(const char* pattern, void* data);
__declspec(dllimport) int __cdecl _findnext(intptr_t handle, void* data);
__declspec(dllimport) int __cdecl _findclose(intptr_t handle);
}
