#pragma once
// The working folder must be the program's own. Where every user may create folders in the
// temporary folder (C:\Windows\Temp, which GetTempPathW gives SYSTEM), a link or a folder
// planted under the fixed name would choose where the installer is written and started from,
// and what the clean-up deletes. A folder is used only when nobody outside the trusted set (the
// token's user, SYSTEM, Administrators) can re-point it or change what it holds.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const wchar_t* kWorkFolderName = L"Skyloom-Setup";
// A fresh folder is this plus a random suffix; the names taken already are passed over.
inline constexpr const wchar_t* kFreshFolderPrefix = L"Skyloom-Setup-";
inline constexpr int kFreshFolderTries = 8;

// What a stranger must not hold on the folder: adding or removing entries, deleting or renaming
// the folder, rewriting its DACL or owner (and so granting any of the rest). Generic rights in
// an entry count as what they map to.
inline constexpr std::uint32_t kForeignRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY |
                                                FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                                                WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// One entry of the folder's DACL. Entries that only pass down to what the folder holds count
// too: the installer file would inherit them.
struct AceFacts {
    bool allows;  // an access-allowed entry of any kind; denials grant nothing
    bool trusted; // its SID is in the trusted set (false when it cannot be told)
    std::uint32_t mask;
};

// What the system says about an existing folder of that name.
struct FolderFacts {
    DWORD attributes = 0;       // of the path and of a handle that does not follow a link
    std::wstring finalPath;     // GetFinalPathNameByHandleW of the folder
    std::wstring tempFinalPath; // the same of the temporary folder
    bool ownerTrusted = false;
    bool hasDacl = false; // false: a null DACL, which grants everyone everything
    std::vector<AceFacts> aces;
};

enum class FolderVerdict { Own, ReparsePoint, NotAFolder, Elsewhere, ForeignOwner, OthersMayWrite };

[[nodiscard]] FolderVerdict judgeWorkFolder(const FolderFacts& facts);

// name inside folder, whether or not the folder's path ends in a backslash (a temporary folder
// does; a final path does only at a drive's root).
[[nodiscard]] std::wstring pathIn(std::wstring_view folder, std::wstring_view name);

// What start-up does after trying to create the fixed folder: use the new folder, examine the
// one there, or make a fresh one.
enum class FixedFolderStep { Use, Examine, Fresh };
[[nodiscard]] FixedFolderStep afterCreatingFixedFolder(DWORD error);

// Why a folder is not used, for the log line "nao uso %s: %s".
[[nodiscard]] const wchar_t* folderRefusal(FolderVerdict verdict);

// Creates tempFolder + "Skyloom-Setup" with a DACL for the trusted set alone, or uses the one
// there when it is the program's own; else (it fails in any way) leaves it alone, logs why and
// creates a fresh folder, which no later run will find (freshFolder). Returns 0 with the
// folder's path, or the error after "nao consegui criar %s (%lu)".
[[nodiscard]] DWORD prepareWorkFolder(const std::wstring& tempFolder, std::wstring& workFolder,
                                      bool& freshFolder);
