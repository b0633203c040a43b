#pragma once
// Folders left by killed runs. A run that is killed (a deployment tool's time-out, say) leaves its
// fresh folder, with up to 400 MiB of partial installer, where no later run looks. Start-up takes
// such folders away: Skyloom-Setup-<eight hexadecimal digits> that pass the working folder's
// rule, were made over an hour ago, and that nobody holds (an open that asks DELETE and shares
// nothing succeeds, where a running run holds its folder without delete sharing). Their partial
// download goes as the clean-up discards it (download/partial_download.h); a folder that still
// holds anything else (what an installer left in its "tmp") stays.
//
// Anyone may make folders of such names in a temporary folder others may write to, as many as
// they like. So the listing alone picks the candidates (name, a folder, no link, its age), and
// the folders opened are a random few of those: young names cost nothing, and where the
// listing starts is nobody's choice. A candidate is first looked at with an open that waits on
// no lock, and only a folder the trusted set owns is opened with DELETE.

#include "app/work_folder.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::size_t kStaleFoldersPerRun = 4; // removed at most
inline constexpr std::size_t kStaleOpensPerRun = 8;   // candidates opened at most
inline constexpr std::int64_t kStaleAgeSeconds = 3600;

// The name a fresh working folder gets: the fixed name, a hyphen and eight hexadecimal digits.
[[nodiscard]] bool freshFolderName(std::wstring_view name);

// Whether a listed entry may be a folder a killed run left, by the listing alone: a fresh name,
// a folder and no reparse point, made at least kStaleAgeSeconds before `now` (FILETIME ticks).
[[nodiscard]] bool staleCandidate(const FolderEntry& entry, std::int64_t now);

// Removes up to kStaleFoldersPerRun of them from the folder `parent` holds (whose path is
// `parentPath`), with a line for each.
void removeStaleFolders(HANDLE parent, const std::wstring& parentPath, const TrustedSet& trusted);
