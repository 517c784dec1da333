// Checks that keep a capture running as the spooler's account from being
// redirected out of its output folder, and from linking an unfinished job.
#pragma once

#include "platform/win.h"

// True when the folder, or any folder above it, is a junction, symbolic link
// or other reparse point: a user who can replace a folder on the way would
// otherwise steer files elsewhere. A folder that does not exist is left to the
// file creation to refuse.
bool LiesUnderReparsePoint(const WCHAR* folder);

// True when the open file's real location, with every link followed, is
// directly inside the folder as its configured path names it.
bool FileLiesInFolder(HANDLE file, const WCHAR* folder);

// True when the spooler reports that it still receives the job's data: its
// spool file is then not complete enough to be linked. A spooler that keeps
// no record to ask (Wine's, which runs the processor only once the document
// has ended) is taken to have the whole job.
bool JobStillSpooling(HANDLE printer, LONG jobId);
