// The setup tool's commands; each returns the tool's exit code.
#pragma once

#include <string>
#include <vector>

#include "platform/win.h"

namespace setup {

struct Options {
  std::wstring printer, port, outputFolder, from, reader;
  std::vector<std::wstring> positional;
  bool remove = false, clear = false;
};

// Options and positional arguments from argv[first] on; false (after
// reporting) for an unknown option or one without its value.
bool ParseOptions(int argc, wchar_t** argv, int first, Options* options);

int Install(const Options& options);
int AddPrinter(const Options& options);
int SetPrefix(const Options& options);
// An on/off switch under the spooler settings key.
int SetSwitch(const Options& options, const WCHAR* command, const WCHAR* valueName);
int Status();
// The capture log: on FILE, off, show [N].
int Log(const Options& options);
// "off" or "on, FILE", for the status.
std::wstring CaptureLogState();
int Uninstall();

}  // namespace setup
