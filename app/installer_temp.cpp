#include "app/installer_temp.h"

#include "app/work_folder.h"
#include "base/open_in_folder.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "platform/plain_file.h"

#include <string_view>

namespace {

// Deep enough for what installers unpack; what lies deeper stays, and its folders with it.
constexpr int kClearedDepth = 16;

constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

struct Clearing {
    HANDLE folder;
    int depth;
    std::int64_t before; // what was last written earlier goes (FILETIME ticks)
    unsigned long* removed;
};

// `name` in `folder`, not following a link; an empty name opens the entry `folder` holds again,
// with no name looked up.
DWORD openEntry(HANDLE folder, std::wstring_view name, ACCESS_MASK access, ULONG share,
                UniqueFile& entry) {
    return openInFolder(folder, name, {access, share, kOpenExisting, kNoFollowing}, entry);
}

// One entry of the listing, deleted as the listing goes: a name it has given is not given again,
// and one it misses waits for a later run.
bool clearEntry(void* context, const FolderEntry& listed) {
    const Clearing& clearing = *static_cast<const Clearing*>(context);
    // Looked at without access to its data, which holds up nobody's open.
    UniqueFile entry;
    UniqueFile other;
    FILE_BASIC_INFO basic{};
    if (openEntry(clearing.folder, listed.name, FILE_READ_ATTRIBUTES, kShareAll, entry) != 0 ||
        !GetFileInformationByHandleEx(entry.get(), FileBasicInfo, &basic, sizeof basic) ||
        // A link that the open followed after all (Wine 8 does), or one that came or went since
        // the listing: left alone.
        ((listed.attributes ^ basic.FileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return true;
    }
    if ((basic.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
            FILE_ATTRIBUTE_DIRECTORY &&
        clearing.depth > 0 &&
        openEntry(entry.get(), L"", kHeldFolderAccess, kShareAll, other) == 0) {
        Clearing inside = clearing;
        inside.folder = other.get();
        --inside.depth;
        (void)forEachEntry(other.get(), clearEntry, &inside);
        other.reset();
    }
    // The time read before its content went, which makes a folder new again.
    if (basic.LastWriteTime.QuadPart >= clearing.before) {
        return true;
    }
    // Sharing nothing: one that anyone holds open stays. A folder goes once it is empty.
    if (openEntry(entry.get(), L"", DELETE, 0, other) == 0 && deleteByHandle(other.get()) == 0) {
        ++*clearing.removed;
    }
    return true;
}

void clearInstallerTemp(HANDLE folder) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    unsigned long removed = 0;
    Clearing clearing{folder, kClearedDepth,
                      ((std::int64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime) -
                          kInstallerTempAgeSeconds * 10'000'000,
                      &removed};
    (void)forEachEntry(folder, clearEntry, &clearing);
    if (removed > 0) {
        logLine(L"TEMP do instalador: apaguei %lu entradas antigas", removed);
    }
}

} // namespace

DWORD holdInstallerTemp(SetupJob& job) {
    // A Retry's launch finds it held already.
    if (job.installerTempHandle) {
        return 0;
    }
    OwnFolder own;
    if (const DWORD error = prepareOwnFolder(job.tempFolderHandle.get(), job.tempFolder,
                                             kInstallerTempName, job.trusted, own);
        error != 0) {
        return error;
    }
    if (!own.fresh) {
        clearInstallerTemp(own.handle.get());
    }
    job.installerTempFolder = std::move(own.path);
    job.installerTempHandle = std::move(own.handle);
    job.freshInstallerTemp = own.fresh;
    return 0;
}
