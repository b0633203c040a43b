#pragma once
// Folders left by killed runs. A run that is killed (a deployment tool's time-out, say) leaves its
// fresh folder, with up to 400 MiB of partial installer, where no later run looks. Start-up takes
// such folders away: Skyloom-Setup-<eight hexadecimal digits> that pass the working folder's
// rule, were made over an hour ago, and that nobody holds (an open that asks DELETE and shares
// nothing succeeds, where a running run holds its folder without delete sharing). Their partial
// download goes as the clean-up discards it (download/partial_download.h); a folder that still
// holds anything else (what an installer left in its "tmp") stays.

#include "app/work_folder.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::size_t kStaleFoldersPerRun = 4;
inline constexpr std::int64_t kStaleAgeSeconds = 3600;

// The name a fresh working folder gets: the fixed name, a hyphen and eight hexadecimal digits.
[[nodiscard]] bool freshFolderName(std::wstring_view name);

// Whether a folder found under such a name, and held by nobody else, goes.
[[nodiscard]] bool staleFolder(FolderVerdict verdict, std::int64_t ageSeconds);

// Removes up to kStaleFoldersPerRun of them from the folder `parent` holds (whose path is
// `parentPath`), with a line for each.
void removeStaleFolders(HANDLE parent, const std::wstring& parentPath, PSID trustedUser);
