// The Win32 declarations the system uses: kernel, registry, user and the
// print spooler (client calls and the print-processor contract).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

// Export decoration for the print processor's own entry points. The .def file
// names the exports; this only keeps the calling convention explicit.
#define HALVEK_ENTRY WINAPI
