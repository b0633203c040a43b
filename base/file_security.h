#pragma once
// Who may change a file, a folder or a mutex: the process's token, the SIDs it trusts, and what
// an object's owner and DACL grant to everyone else. Wherever a name lies in a folder others may
// write to (C:\Windows\Temp, which GetTempPathW gives SYSTEM), a link, a file or a folder planted
// under it would choose what the program writes, runs or deletes: such a name is used only when
// nobody outside the trusted set can have made it or can change it.

#include "base/handles.h"

#include <windows.h>

#include <aclapi.h>

#include <cstdint>
#include <string>
#include <string_view>

// What a stranger must not hold: adding or removing entries, deleting or renaming the object,
// rewriting its attributes (enough to make an empty folder a junction later), its DACL or owner
// (and so granting any of the rest). Generic rights in an entry count as what they map to.
inline constexpr std::uint32_t kForeignRights =
    FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES | DELETE |
    WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// The process's token, as far as trust goes.
struct TokenFacts {
    // A TOKEN_USER with room for the largest SID.
    alignas(TOKEN_USER) BYTE userBytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    bool system = false;   // the user is LocalSystem
    bool elevated = false; // TokenElevation
    // The Administrators group is enabled in the token (an elevated administrator's; a split
    // token of another group, such as Backup Operators, elevates without it).
    bool administrator = false;
    PSID user() const { return reinterpret_cast<const TOKEN_USER*>(userBytes)->User.Sid; }
};

[[nodiscard]] DWORD readTokenFacts(TokenFacts& facts);

// Whom the run trusts besides SYSTEM and the Administrators, for every file, folder and mutex it
// makes or takes: one set, read from the token once. An elevated administrator trusts only SYSTEM
// and the Administrators, since any unelevated process of the same user could have made a name
// first. An elevated token without the Administrators group (Backup Operators, say) keeps its
// user: its own folders would otherwise never pass, and every run would end with 50. Its
// unelevated processes may then write wherever the user may, so the folders it makes carry a
// High no-write-up label, which a process of lower integrity cannot pass.
struct TrustedSet {
    PSID user = nullptr; // null: nobody besides SYSTEM and the Administrators
    bool highLabel = false;
};
[[nodiscard]] TrustedSet trustedSetFor(const TokenFacts& token);

[[nodiscard]] bool trustedSid(PSID sid, PSID user);

// One entry of a DACL. Entries that only pass down to what a folder holds count too: a file made
// in it would inherit them.
struct AceFacts {
    bool allows;  // grants rights; denials grant nothing
    bool trusted; // its SID is in the trusted set (false when it cannot be told)
    std::uint32_t mask;
};

// An entry of the given type. Every allowing and denying type keeps its mask right after the
// header; only the plain and the conditional allowing types keep the SID right after the mask, so
// the object types count as a stranger's. A type not known to allow or deny counts as a stranger
// holding every right: its mask may not sit where the known types keep theirs.
[[nodiscard]] AceFacts aceFactsOf(std::uint8_t type, std::uint32_t mask, bool sidTrusted);

// Whether the entry lets a stranger change the object: it allows one of the foreign rights to a
// SID outside the trusted set.
[[nodiscard]] constexpr bool grantsStranger(AceFacts ace) {
    return ace.allows && !ace.trusted && (ace.mask & kForeignRights) != 0;
}

// What the owner, the DACL and the label of an object say.
struct SecurityFacts {
    bool ownerTrusted = false;
    // A null DACL (which grants everyone everything), or an entry that grantsStranger.
    bool strangersMayWrite = true;
    // An inherited High (or higher) no-write-up label; read only where the set asks for one.
    bool highLabel = false;
};

// A label entry in `sacl` that keeps writers below High integrity out of the folder and all it
// holds: no-write-up, passed down to files and folders alike.
[[nodiscard]] bool highLabelIn(const ACL* sacl);

[[nodiscard]] DWORD readSecurityFacts(HANDLE object, SE_OBJECT_TYPE type, const TrustedSet& trusted,
                                      SecurityFacts& facts);

// Whether the volume of an open file or folder keeps owners and DACLs (FILE_PERSISTENT_ACLS).
// FAT, exFAT, some RAM disks and shares do not: there every name reports a world-owned object
// whoever made it, and only its place and identity tell it apart. A volume that cannot be asked
// counts as one that keeps them: the stricter rules stay on.
[[nodiscard]] bool volumeKeepsAcls(HANDLE object);

// A number nobody outside the process can choose: UuidCreate's random bits, or, where it fails,
// the clock, the process and `attempt`.
[[nodiscard]] std::uint32_t randomValue(int attempt);

// "-" and eight hexadecimal digits, random, for a fresh name made beside one that failed.
[[nodiscard]] std::wstring freshSuffix(int attempt);
inline constexpr std::size_t kFreshSuffixLength = 9;

inline constexpr int kFreshNameTries = 8;

// Makes a fresh name prefix-<random>extension with `create` (which returns 0 or the error it
// met), passing over names taken already, up to kFreshNameTries names. Returns the last error,
// 0 with the name made in `path`.
template <typename Create>
[[nodiscard]] DWORD createUnderFreshName(std::wstring_view prefix, std::wstring_view extension,
                                         std::wstring& path, Create create) {
    DWORD error = ERROR_ALREADY_EXISTS;
    for (int i = 0;
         i < kFreshNameTries && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
         ++i) {
        path.assign(prefix);
        path += freshSuffix(i);
        path += extension;
        error = create(path);
    }
    return error;
}

// name inside folder, whether or not the folder's path ends in a backslash (a temporary folder
// does; a final path does only at a drive's root).
[[nodiscard]] std::wstring pathIn(std::wstring_view folder, std::wstring_view name);

// The last step of a path: the name of what it leads to in its folder.
[[nodiscard]] std::wstring_view leafOf(std::wstring_view path);

// Two paths of the same object as the file system compares names: ordinal, any letter case,
// whether or not a folder's path ends in backslashes.
[[nodiscard]] bool samePath(std::wstring_view a, std::wstring_view b);

// The path without the backslashes that may end it, but a drive's root keeps its own ("C:\"):
// a folder as Windows writes it in TEMP.
[[nodiscard]] std::wstring withoutTrailingBackslash(std::wstring path);

// GetFinalPathNameByHandleW, grown until the path fits.
[[nodiscard]] DWORD finalPathOf(HANDLE handle, std::wstring& path);

// What an open folder's handle says of it: its final path, its owner and its DACL.
[[nodiscard]] DWORD readFolderFacts(HANDLE folder, const TrustedSet& trusted,
                                    std::wstring& finalPath, SecurityFacts& security);

// Whether a folder lies where its name says: no reparse point (by `attributes`, of the path and
// of a handle that does not follow a link: Wine shows a link only to the path, Windows to the
// handle), a folder, and its final path the one expected: its parent's final path and its name
// (final paths on both sides: the parent's name may hold 8.3 names or pass through a junction
// of its own), or the whole path as given, where no link may lie anywhere on it.
enum class FolderPlace { Where, ReparsePoint, NotAFolder, Elsewhere };
[[nodiscard]] FolderPlace judgeFolderPlace(DWORD attributes, const std::wstring& finalPath,
                                           const std::wstring& expectedFinalPath);

// The attributes of `path` and of the open `folder` together, and the final paths of the
// folder and of its parent (`parent` open on it; INVALID_HANDLE_VALUE: not read).
[[nodiscard]] DWORD readFolderPlace(const wchar_t* path, HANDLE folder, HANDLE parent,
                                    DWORD& attributes, std::wstring& finalPath,
                                    std::wstring& parentFinalPath);

// A descriptor whose protected DACL grants everything to the trusted set alone. Given at
// creation: a DACL set afterwards would leave a moment in which the object is open to others.
//  - Folder: passed down to everything made inside, with the set's label where it has one.
//  - File: also to the file's owner (OWNER RIGHTS), which on a share is the computer account
//    that writes it again on its next run.
//  - Mutex: `watcher` (when not null) may also wait on it and read its owner, so that a run
//    without the rights of the set can tell that it is there.
enum class ProtectedObject { Folder, File, Mutex };
[[nodiscard]] DWORD protectedSecurity(const TrustedSet& trusted, ProtectedObject object,
                                      UniqueLocal& descriptor, PSID watcher = nullptr);
