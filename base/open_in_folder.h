#pragma once
// A name opened or made inside a folder that is held open: NtCreateFile with the folder's handle
// as its root looks the name up in that very folder, whatever has happened meanwhile to the path
// that once led to it. Only the name's last step is taken anew; nothing above it is.

#include "base/handles.h"

#include <windows.h>

#include <cstdint>
#include <string_view>

// NtCreateFile's dispositions and options (winternl.h), so that callers need no NT header.
inline constexpr ULONG kOpenExisting = 0x1;       // FILE_OPEN
inline constexpr ULONG kCreateNew = 0x2;          // FILE_CREATE: fails on a name that exists
inline constexpr ULONG kOpenOrCreate = 0x3;       // FILE_OPEN_IF
inline constexpr ULONG kFolderOnly = 0x1;         // FILE_DIRECTORY_FILE
inline constexpr ULONG kFileOnly = 0x40;          // FILE_NON_DIRECTORY_FILE
inline constexpr ULONG kNoFollowing = 0x00200000; // FILE_OPEN_REPARSE_POINT
// FILE_COMPLETE_IF_OPLOCKED: a name a stranger may have made first could carry the stranger's
// opportunistic lock, whose break would be waited for without end. With this option an open that
// breaks one returns at once; openInFolder then lets go of the name (ERROR_SHARING_VIOLATION).
inline constexpr ULONG kNoOplockWait = 0x00000100;

// What a folder held from its making or check to its removal asks and allows: sharing read and
// write but not delete, so that nobody can rename it away while it is held.
inline constexpr DWORD kHeldFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL | FILE_READ_ATTRIBUTES;
inline constexpr DWORD kHeldFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

struct FolderOpen {
    ACCESS_MASK access;
    ULONG share;
    ULONG disposition;
    ULONG options; // kFolderOnly or kFileOnly, kNoFollowing, kNoOplockWait
    PSECURITY_DESCRIPTOR security = nullptr; // given to what the open creates
};

// `name` (one step, no separator) in the folder `folder` holds, opened for synchronous I/O. 0 with
// the handle, else the Win32 error of the open's status; `created`, when given, tells whether
// the open made it.
[[nodiscard]] DWORD openInFolder(HANDLE folder, std::wstring_view name, const FolderOpen& how,
                                 UniqueFile& handle, bool* created = nullptr);

// The handle an open's status leaves: STATUS_OPLOCK_BREAK_IN_PROGRESS is a success with a live
// handle, which is closed again and counts as ERROR_SHARING_VIOLATION. 0, or the Win32 error.
[[nodiscard]] DWORD takeOpened(LONG status, HANDLE opened, UniqueFile& handle);

// Renames the open `file` to `name` in the folder `folder` holds, replacing a file of that name.
// 0 or the Win32 error. (SetFileInformationByHandle with a root folder is refused by Wine 8.)
[[nodiscard]] DWORD renameInFolder(HANDLE file, HANDLE folder, std::wstring_view name);

// Where an open file or folder lies on its volume: the volume's serial and the file's index.
struct FileIdentity {
    DWORD volume = 0;
    ULONGLONG index = 0;
    bool operator==(const FileIdentity&) const = default;
};

[[nodiscard]] DWORD identityOf(HANDLE handle, FileIdentity& identity);

// One entry of a folder's listing, as the listing itself gives it: nothing is opened for it.
struct FolderEntry {
    std::wstring_view name;
    DWORD attributes;
    std::int64_t creationTime; // FILETIME's ticks
};

// Calls `visit` with each entry of the folder `folder` holds (opened with FILE_LIST_DIRECTORY),
// "." and ".." left out, until it returns false. 0 when the listing ended, else its error.
using VisitEntry = bool (*)(void* context, const FolderEntry& entry);
[[nodiscard]] DWORD forEachEntry(HANDLE folder, VisitEntry visit, void* context);
