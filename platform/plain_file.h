#pragma once
// The installer file is opened, checked and deleted only as what it should be: an ordinary file
// with one name. A reparse point (symbolic link, junction, mount point) or a second hard link
// would let whoever made it choose which file is written, started or deleted.

#include "base/handles.h"

#include <windows.h>

// ERROR_STOPPED_ON_SYMLINK, which mingw-w64 10's headers do not name.
inline constexpr DWORD kErrorStoppedOnLink = 681;

// 0 for an ordinary file with a single name; else the error that refuses it: kErrorStoppedOnLink
// for a reparse point, ERROR_TOO_MANY_LINKS for a file with another name.
[[nodiscard]] DWORD plainFileError(DWORD attributes, DWORD links);

// CreateFileW that does not follow a reparse point at the last step, with the handle's file
// checked: a refused file is closed again and its error returned. 0 when file holds it.
[[nodiscard]] DWORD openPlainFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                  UniqueFile& file);

// Deletes the file through a handle of its own, never by a path resolved again afterwards.
// Returns the error, 0 when the file goes (with its last handle).
[[nodiscard]] DWORD deletePlainFile(const wchar_t* path);
