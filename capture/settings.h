// Where a captured job goes and what the spooler calls it, read afresh from
// the registry for every capture.
#pragma once

#include "platform/registry_names.h"
#include "platform/win.h"

constexpr DWORD kPathChars = 260;
constexpr DWORD kOutputFolderChars = 270;
constexpr DWORD kPortNameChars = 40;

struct CaptureSettings {
  WCHAR printerName[kPathChars];
  LONG jobId;
  WCHAR spoolDirectory[kPathChars];
  WCHAR portName[kPortNameChars];
  WCHAR outputFolder[kOutputFolderChars];  // always ends in a backslash once loaded
  WCHAR spoolFileName[kPathChars];
  WCHAR wchSourceLinkPath[kPathChars];
  WCHAR wchDestinationLinkPath[kPathChars];
  // False when the document name carried no ", Job N" part.
  bool jobNameParsed;
};

// Fills the settings from the spooler's document-name argument
// ("Printer, Job 12") and the registry. Fields that cannot be read stay empty.
void LoadCaptureSettings(const WCHAR* documentName, CaptureSettings* settings);

// The "InterpretTitle" setting; 1 when it cannot be read.
DWORD ReadInterpretTitle();
// False when the operator has switched hard links off ("HardLinks" 0).
bool ReadHardLinksAllowed();

// Why the settings cannot place an output file, or null when they can: the
// job's bytes must never land in a relative path, the current directory or a
// drive root.
const WCHAR* MissingCaptureSetting(const CaptureSettings& settings);
