#include "app/stale_folders.h"

#include "base/open_in_folder.h"
#include "download/partial_download.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "platform/plain_file.h"

#include <algorithm>

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;

std::int64_t now() {
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    return (std::int64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

} // namespace

bool freshFolderName(std::wstring_view name) {
    const std::wstring_view prefix = kWorkFolderName;
    if (name.size() != prefix.size() + 9 || !name.starts_with(prefix) ||
        name[prefix.size()] != L'-') {
        return false;
    }
    for (std::size_t i = prefix.size() + 1; i < name.size(); ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) {
            return false;
        }
    }
    return true;
}

bool staleCandidate(const FolderEntry& entry, std::int64_t now) {
    return (entry.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY &&
           freshFolderName(entry.name) &&
           now - entry.creationTime >= kStaleAgeSeconds * kTicksPerSecond;
}

namespace {

// The partial download a run leaves, through handles of their own, then the folder through the
// one held.
DWORD removeStale(HANDLE folder, const std::wstring& path) {
    if (const DWORD error =
            discardPartialDownload(folder, pathIn(path, kInstallerFileName).c_str());
        error != 0) {
        return error;
    }
    return deleteByHandle(folder);
}

// Examined, and removed if stale; true when it was removed or tried.
bool removeIfStale(HANDLE parent, const std::wstring& parentPath, std::wstring_view name,
                   const TrustedSet& trusted) {
    const std::wstring path = pathIn(parentPath, name);
    constexpr ULONG kOptions = kFolderOnly | kNoFollowing | kNoOplockWait;
    FolderFacts facts;
    FileIdentity looked;
    FileIdentity found;
    {
        // A look first, at the owner: a stranger's folder is never asked for DELETE.
        UniqueFile look;
        if (openInFolder(parent, name,
                         {READ_CONTROL | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, kOpenExisting,
                          kOptions},
                         look) != 0 ||
            examineFolder(parent, path, look.get(), trusted, facts) != 0 ||
            identityOf(look.get(), looked) != 0) {
            return false;
        }
    }
    // No sharing: a folder that anyone holds, a running run first of all, is left alone. It must
    // be the folder looked at, whose age the listing gave.
    UniqueFile folder;
    if (judgeOwnFolder(facts, name, trusted) != FolderVerdict::Own ||
        openInFolder(parent, name, {DELETE | kHeldFolderAccess, 0, kOpenExisting, kOptions},
                     folder) != 0 ||
        identityOf(folder.get(), found) != 0 || !(found == looked)) {
        return false;
    }
    if (const DWORD error = removeStale(folder.get(), path); error != 0) {
        logLine(L"a pasta de uma execucao interrompida fica: %s (%lu)", path.c_str(), error);
    } else {
        logLine(L"apaguei a pasta de uma execucao interrompida: %s", path.c_str());
    }
    return true;
}

// The candidates opened: a random sample of those the listing gives (each kept with the same
// chance), listed first so that nothing is deleted under the listing.
struct Candidates {
    std::int64_t now;
    std::size_t seen = 0;
    wchar_t names[kStaleOpensPerRun][24] = {};
};

bool noteCandidate(void* context, const FolderEntry& entry) {
    auto& found = *static_cast<Candidates*>(context);
    if (!staleCandidate(entry, found.now)) {
        return true;
    }
    const std::size_t seen = found.seen++;
    const std::size_t slot =
        seen < kStaleOpensPerRun ? seen : randomValue(static_cast<int>(seen)) % (seen + 1);
    if (slot < kStaleOpensPerRun) {
        entry.name.copy(found.names[slot], entry.name.size());
        found.names[slot][entry.name.size()] = L'\0';
    }
    return true;
}

} // namespace

void removeStaleFolders(HANDLE parent, const std::wstring& parentPath, const TrustedSet& trusted) {
    Candidates found{now()};
    (void)forEachEntry(parent, noteCandidate, &found);
    const std::size_t sampled = std::min(found.seen, kStaleOpensPerRun);
    std::size_t removed = 0;
    for (std::size_t i = 0; i < sampled && removed < kStaleFoldersPerRun; ++i) {
        removed += removeIfStale(parent, parentPath, found.names[i], trusted) ? 1 : 0;
    }
}
