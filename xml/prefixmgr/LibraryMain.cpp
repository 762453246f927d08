// SPDX-License-Identifier: Apache-2.0
// LibraryMain.cpp - what loading the library does beyond its static objects.
#if defined(_WIN32)
#include <windows.h>

// The library keeps no per-thread state, so thread attach and detach
// notifications are switched off at process attach.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(instance);
    return TRUE;
}
#else
// Elsewhere loading runs the static constructors and nothing else.
#endif
