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
#include <winsplp.h>
#include <winspool.h>
