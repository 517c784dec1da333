// The steps of installing: each returns 0 or the exit code after reporting
// what failed, and can be run again to leave the same state.
#pragma once

#include <string>

namespace setup {

// Copies the DLLs from fromFolder into place and registers the processor.
int InstallProcessor(const std::wstring& fromFolder);
int InstallDriver();
// The spooler's spool folder, where the capture finds a job's spool file.
int EnsureSpoolDirectoryValue();

// Names the capture can read back; both report what is wrong.
bool CheckPortName(const std::wstring& portName);
bool CheckOutputFolder(const std::wstring& folder);
// Port, its output folder (readable by the readers account, or by default
// Authenticated Users), and a printer on it that captures RAW jobs.
int SetUpPrinter(const std::wstring& printerName, const std::wstring& portName,
                 const std::wstring& outputFolderArgument, const std::wstring& readers);

}  // namespace setup
