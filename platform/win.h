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

// The print-processor contract builds on the client declarations above.
#include <winsplp.h>
