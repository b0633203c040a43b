#pragma once
// The installer file and the files beside it are opened, checked and deleted only as what they
// should be: ordinary files with one name, looked up in the working folder the program holds. A
// reparse point (symbolic link, junction, mount point) or a second hard link would let whoever
// made it choose which file is written, started or deleted.

#include "base/handles.h"
#include "base/open_in_folder.h"

#include <windows.h>

#include <string_view>

// ERROR_STOPPED_ON_SYMLINK, which mingw-w64 10's headers do not name.
inline constexpr DWORD kErrorStoppedOnLink = 681;

// Nothing there: the file or a folder on its path is gone already.
[[nodiscard]] constexpr bool isGone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// 0 for an ordinary file with a single name; else the error that refuses it: kErrorStoppedOnLink
// for a reparse point, ERROR_TOO_MANY_LINKS for a file with another name.
[[nodiscard]] DWORD plainFileError(DWORD attributes, DWORD links);

// `name` in the folder `folder` holds, not following a reparse point at the name, checked: a
// refused file is closed again and its error returned. `disposition` as base/open_in_folder.h
// names them. 0 when `file` holds it.
[[nodiscard]] DWORD openPlainFileIn(HANDLE folder, std::wstring_view name, DWORD access,
                                    DWORD share, ULONG disposition, UniqueFile& file);

// The errors by which a file system or a Windows older than 10 1607 says it has no POSIX
// delete: only these fall back to the classic one. Access and sharing errors do not, so the
// held-file retry still sees them.
[[nodiscard]] bool posixDeleteUnsupported(DWORD error);

// Deletes a file or folder through a handle opened with DELETE. The name goes when that handle
// closes, even while a scanner still holds the file with delete sharing (POSIX semantics), so
// the next open of the name is not refused. 0, or the error.
[[nodiscard]] DWORD deleteByHandle(HANDLE handle);

// Deletes `name` in the held folder through a handle of its own, opened and checked as above,
// never through a name resolved again afterwards. Returns the error, 0 when the name is gone.
[[nodiscard]] DWORD deletePlainFileIn(HANDLE folder, std::wstring_view name);

// A folder taken for another, for the log line of a folder that is not deleted.
inline constexpr DWORD kErrorNotTheSameFolder = ERROR_FILE_INVALID;

// Deletes the folder `name` in `parent` if it is the folder `identity` names: opened with DELETE
// and every sharing, never through a link. 0; kErrorNotTheSameFolder for another folder under the
// name; ERROR_DIR_NOT_EMPTY for one that still holds something; else the error.
[[nodiscard]] DWORD deleteFolderIn(HANDLE parent, std::wstring_view name,
                                   const FileIdentity& identity);
