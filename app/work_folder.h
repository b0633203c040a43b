#pragma once
// The working folder must be the program's own. Where every user may create folders in the
// temporary folder, a link or a folder planted under the fixed name would choose where the
// installer is written and started from, and what the clean-up deletes. A folder is used only
// when nobody outside the trusted set can re-point it or change what it holds
// (base/file_security.h); the same rule keeps the installer's own temporary folder inside it.

#include "base/file_security.h"

#include <windows.h>

#include <string>
#include <string_view>

inline constexpr const wchar_t* kWorkFolderName = L"Skyloom-Setup";

// What the system says about an existing folder of the fixed name.
struct FolderFacts {
    DWORD attributes = 0;         // of the path and of a handle that does not follow a link
    std::wstring finalPath;       // GetFinalPathNameByHandleW of the folder
    std::wstring parentFinalPath; // the same of the folder it should lie in
    SecurityFacts security;
};

enum class FolderVerdict { Own, ReparsePoint, NotAFolder, Elsewhere, ForeignOwner, OthersMayWrite };

// `name`: the name the folder should have in its parent.
[[nodiscard]] FolderVerdict judgeOwnFolder(const FolderFacts& facts, std::wstring_view name);

// Why a folder is not used, for the log line "nao uso %s: %s".
[[nodiscard]] const wchar_t* folderRefusal(FolderVerdict verdict);

// What happens after trying to create the fixed folder: use the new folder, examine the one
// there, or make a fresh one.
enum class FixedFolderStep { Use, Examine, Fresh };
[[nodiscard]] FixedFolderStep afterCreatingFixedFolder(DWORD error);

// A folder of the program's own in `parent`: `name` created with a DACL for the trusted set
// alone (`trustedUser` and SYSTEM and the Administrators), or the one there when it passes the
// rule; else (it fails in any way) that one is left alone, the reason logged, and a fresh
// `name`-<random> folder created, which no later run will find (`fresh`). Returns 0 with the
// folder's path, or the error after "nao consegui criar %s (%lu)".
[[nodiscard]] DWORD prepareOwnFolder(const std::wstring& parent, std::wstring_view name,
                                     PSID trustedUser, std::wstring& folder, bool& fresh);

// The working folder in the temporary folder.
[[nodiscard]] inline DWORD prepareWorkFolder(const std::wstring& tempFolder, PSID trustedUser,
                                             std::wstring& workFolder, bool& freshFolder) {
    return prepareOwnFolder(tempFolder, kWorkFolderName, trustedUser, workFolder, freshFolder);
}
