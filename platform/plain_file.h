#pragma once
// The installer file is opened, checked and deleted only as what it should be: an ordinary file
// with one name. A reparse point (symbolic link, junction, mount point) or a second hard link
// would let whoever made it choose which file is written, started or deleted.

#include "base/handles.h"

#include <windows.h>

// ERROR_STOPPED_ON_SYMLINK, which mingw-w64 10's headers do not name.
inline constexpr DWORD kErrorStoppedOnLink = 681;

// Nothing there: the file or a folder on its path is gone already.
[[nodiscard]] constexpr bool isGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// 0 for an ordinary file with a single name; else the error that refuses it: kErrorStoppedOnLink
// for a reparse point, ERROR_TOO_MANY_LINKS for a file with another name.
[[nodiscard]] DWORD plainFileError(DWORD attributes, DWORD links);

// CreateFileW that does not follow a reparse point at the last step (`flags` adds to that), and
// what the handle says of the file. 0 when `handle` holds it and `info` is filled.
[[nodiscard]] DWORD openUnfollowed(const wchar_t* path, DWORD access, DWORD share,
                                   DWORD disposition, DWORD flags, UniqueFile& handle,
                                   BY_HANDLE_FILE_INFORMATION& info);

// openUnfollowed with the handle's file checked: a refused file is closed again and its error
// returned. 0 when file holds it.
[[nodiscard]] DWORD openPlainFile(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                                  UniqueFile& file);

// The errors by which a file system or a Windows older than 10 1607 says it has no POSIX
// delete: only these fall back to the classic one. Access and sharing errors do not, so the
// held-file retry still sees them.
[[nodiscard]] bool posixDeleteUnsupported(DWORD error);

// Deletes the file through a handle of its own, never by a path resolved again afterwards.
// The name goes when that handle closes, even while a scanner still holds the file with delete
// sharing (POSIX semantics), so the next open of the path is not refused. Returns the error, 0
// when the name is gone.
[[nodiscard]] DWORD deletePlainFile(const wchar_t* path);
