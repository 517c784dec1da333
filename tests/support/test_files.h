// Test helpers for real folders and files.
#pragma once

#include <string>
#include <vector>

#include "platform/win.h"

// A fresh folder under the temp folder (path ends with a backslash), removed
// with everything in it at the end.
struct TempFolder {
  std::wstring path;
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
};

void RemoveTree(const std::wstring& folder);
// Names in the folder (no "." or ".."), sorted.
std::vector<std::wstring> ListFolder(const std::wstring& folder);
// Creates the file (CREATE_NEW) holding bytes; false when that fails.
bool WriteNewFile(const std::wstring& path, const std::string& bytes);
// Creates or replaces the file (CREATE_ALWAYS) holding bytes.
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// The whole file, or "" when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);
// The whole file; false when it cannot be opened. Others may keep writing.
bool ReadFileBytes(const std::wstring& path, std::string* bytes);
// The lines of a title corpus file; in a .hex file each line gives the
// bytes its hex digits spell, and "-" (no such title) stays "-".
std::vector<std::string> ReadCorpusLines(const std::wstring& path);
