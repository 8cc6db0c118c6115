// INI files on disk: a cache of parsed files and atomic replacement.
//
// Paths here are the system's own (UTF-8, "/" separators); settings.cpp turns
// the program's paths into them.
//
// Cache: a parsed file is kept, keyed by its path, and used again while the
// file's device, inode, size and modification time are unchanged. Because file
// times only advance once per kernel clock tick, a file modified within the
// same tick as it was read would look unchanged; such an entry is "racy" and is
// checked against the file's bytes on every use until a tick has passed.
//
// Atomic replacement: the new bytes go to a temporary file in the same
// directory, which is flushed to disk and renamed over the old file; the
// directory is flushed after the rename. A crash at any point leaves either the
// old file or the new one, whole. The old file's permissions (and, for root,
// its owner) carry over; a symbolic link is written through to its target.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "console/core/ini_text.h"

namespace ondaria::ini {

// The parsed file. A missing file gives an empty text; a file that exists but
// cannot be read (no permission, a directory, ...) gives nullptr, so that no
// caller mistakes it for an empty file and writes over it. When nothing exists
// at the path, a file whose name differs only in case is read instead
// (matchFileName).
// `error`, when given, receives the system's error number of a file that
// cannot be read (0 otherwise).
std::shared_ptr<const IniText> loadIniFile(const std::string& path, int* error = nullptr);

// True when storeIniFile may replace the file at `path` (a link is followed):
// it is a regular file the user may write, or nothing is there yet. A file
// made read-only is never replaced, whoever replaces it.
bool canReplaceFile(const std::string& path);

// Replaces the file with text's bytes. False, with the old file untouched, when
// the directory is missing or not writable, the file exists but is read-only or
// not a regular file, or writing fails (disk full, ...).
bool storeIniFile(const std::string& path, std::shared_ptr<const IniText> text);

// The path itself when something exists there; otherwise the entry of the same
// directory whose name matches the last component without regard to ASCII case
// (the files were made on a system that ignores case), or the path unchanged.
std::string matchFileName(const std::string& path);

// Called with the temporary file's path once it is complete and flushed, just
// before the rename. For tests that stop or kill a writer at that moment.
void setIniWriteHook(std::function<void(const std::string& tempPath)> hook);

// Forgets every cached file.
void clearIniCache();

}  // namespace ondaria::ini
