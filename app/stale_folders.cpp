#include "app/stale_folders.h"

#include "base/open_in_folder.h"
#include "download/partial_download.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "platform/plain_file.h"

#include <iterator>

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

bool staleFolder(FolderVerdict verdict, std::int64_t ageSeconds) {
    return verdict == FolderVerdict::Own && ageSeconds >= kStaleAgeSeconds;
}

namespace {

// Seconds since the folder was made; 0 when that cannot be told.
std::int64_t ageOf(HANDLE folder) {
    FILE_BASIC_INFO basic{};
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    if (!GetFileInformationByHandleEx(folder, FileBasicInfo, &basic, sizeof basic)) {
        return 0;
    }
    const std::int64_t ticks = ((std::int64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) -
                               basic.CreationTime.QuadPart;
    return ticks / 10'000'000;
}

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
                   PSID trustedUser) {
    UniqueFile folder;
    // No sharing: a folder that anyone holds, a running run first of all, is left alone.
    if (openInFolder(parent, name,
                     {DELETE | kHeldFolderAccess, 0, kOpenExisting, kFolderOnly | kNoFollowing},
                     folder) != 0) {
        return false;
    }
    const std::wstring path = pathIn(parentPath, name);
    FolderFacts facts;
    if (readFolderPlace(path.c_str(), folder.get(), parent, facts.attributes, facts.finalPath,
                        facts.parentFinalPath) != 0 ||
        readSecurityFacts(folder.get(), SE_FILE_OBJECT, trustedUser, facts.security) != 0 ||
        !staleFolder(judgeOwnFolder(facts, name), ageOf(folder.get()))) {
        return false;
    }
    if (const DWORD error = removeStale(folder.get(), path); error != 0) {
        logLine(L"a pasta de uma execucao interrompida fica: %s (%lu)", path.c_str(), error);
    } else {
        logLine(L"apaguei a pasta de uma execucao interrompida: %s", path.c_str());
    }
    return true;
}

// The names found, listed first so that nothing is deleted under the listing: a few more than
// are removed, since the folders of running runs and young ones are passed over.
struct Candidates {
    wchar_t names[2 * kStaleFoldersPerRun][24];
    std::size_t count = 0;
};

bool noteCandidate(void* context, std::wstring_view name, DWORD attributes) {
    auto& found = *static_cast<Candidates*>(context);
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && freshFolderName(name)) {
        name.copy(found.names[found.count], name.size());
        found.names[found.count++][name.size()] = L'\0';
    }
    return found.count < std::size(found.names);
}

} // namespace

void removeStaleFolders(HANDLE parent, const std::wstring& parentPath, PSID trustedUser) {
    Candidates found;
    (void)forEachEntry(parent, noteCandidate, &found);
    std::size_t removed = 0;
    for (std::size_t i = 0; i < found.count && removed < kStaleFoldersPerRun; ++i) {
        removed += removeIfStale(parent, parentPath, found.names[i], trustedUser) ? 1 : 0;
    }
}
