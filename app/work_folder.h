#pragma once
// The working folder must be the program's own, and stay so. Where every user may create folders
// in the temporary folder, a link or a folder planted under the fixed name would choose where the
// installer is written and started from, and what the clean-up deletes. A folder is used only
// when nobody outside the trusted set can re-point it or change what it holds
// (base/file_security.h); the same rule keeps the installer's own temporary folder inside it.
//
// Its rights alone do not keep it: whoever may delete entries of the parent can rename it away
// and put another folder under its name. So it is held from the moment it is created (the create
// returns the handle) or checked (the checks run on the handle that stays open) to its removal,
// sharing read and write but not delete: while the handle is open nobody can rename it. The
// handle asks no DELETE itself, which would make the installer's open of its current folder
// fail. Every file of the run is opened inside it by name (base/open_in_folder.h).

#include "base/file_security.h"
#include "base/handles.h"
#include "base/open_in_folder.h"

#include <windows.h>

#include <string>
#include <string_view>

inline constexpr const wchar_t* kWorkFolderName = L"Skyloom-Setup";

// What the system says about an existing folder of the fixed name.
struct FolderFacts {
    DWORD attributes = 0;         // of the path and of the held handle, which follows no link
    std::wstring finalPath;       // GetFinalPathNameByHandleW of the folder
    std::wstring parentFinalPath; // the same of the folder it should lie in
    SecurityFacts security;
    // The volume keeps owners and DACLs (base/file_security.h): where it does not, a folder of
    // the right place and name is the program's own whatever they say, or no run would ever
    // resume or sweep one there.
    bool aclsKept = true;
};

enum class FolderVerdict {
    Own,
    ReparsePoint,
    NotAFolder,
    Elsewhere,
    ForeignOwner,
    OthersMayWrite,
    NoLabel, // the trusted set labels its folders, and this one has no such label
};

// `name`: the name the folder should have in its parent.
[[nodiscard]] FolderVerdict judgeOwnFolder(const FolderFacts& facts, std::wstring_view name,
                                           const TrustedSet& trusted);

// Why a folder is not used, for the log line "nao uso %s: %s".
[[nodiscard]] const wchar_t* folderRefusal(FolderVerdict verdict);

// What happens after trying to create the fixed folder: use the new folder, examine the one
// there, or make a fresh one.
enum class FixedFolderStep { Use, Examine, Fresh };
[[nodiscard]] FixedFolderStep afterCreatingFixedFolder(DWORD error);

// A folder of the program's own, held.
struct OwnFolder {
    std::wstring path;
    UniqueFile handle;
    // A fresh folder with a random name, made because the fixed one failed: no later run finds
    // what stays in it.
    bool fresh = false;
};

// What the system says of the folder that `folder` holds, whose path is `path` in the folder
// that `parent` holds.
[[nodiscard]] DWORD examineFolder(HANDLE parent, const std::wstring& path, HANDLE folder,
                                  const TrustedSet& trusted, FolderFacts& facts);

// A folder of the program's own in the folder `parent` holds (whose path is `parentPath`): `name`
// created with a DACL for the trusted set alone, or the one there when it passes the rule; else
// (it fails in any way) that one is left alone, the reason logged, and a fresh `name`-<random>
// folder created. Returns 0 with the folder held, or the error after "nao consegui criar %s
// (%lu)".
[[nodiscard]] DWORD prepareOwnFolder(HANDLE parent, const std::wstring& parentPath,
                                     std::wstring_view name, const TrustedSet& trusted,
                                     OwnFolder& folder);

// Removes a held folder once it is empty: notes which folder it holds, lets go of it, and
// deletes `name` in `parent` only if it is still that folder, never through a link. A folder
// still in use or not empty yet is waited for a moment. Returns the last error, 0 when it is
// gone; a failure other than a hold or a folder already gone has its line.
DWORD removeOwnFolder(HANDLE parent, const std::wstring& path, UniqueFile& held);
