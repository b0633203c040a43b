#include "app/cleanup.h"

#include "app/job/setup_job.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

void closeVerifiedFile(SetupJob& job) {
    if (job.verifiedFile != INVALID_HANDLE_VALUE) {
        CloseHandle(job.verifiedFile);
        job.verifiedFile = INVALID_HANDLE_VALUE;
    }
}

bool folderLeftUnreported(DWORD error) {
    return error != 0 && error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND &&
           !isBriefHold(HeldThing::Folder, error);
}

DWORD deleteInstallerFile(const SetupJob& job) {
    const wchar_t* path = job.installerPath.c_str();
    return retryWhileHeld(HeldThing::File, path, [path] { return deletePlainFile(path); });
}

void cleanUpJob(SetupJob& job) {
    closeVerifiedFile(job);
    if (!job.installerPath.empty()) {
        // A file still held after the waits has its own line; the folder then stays too.
        (void)deleteInstallerFile(job);
    }
    if (!job.workFolder.empty()) {
        const wchar_t* folder = job.workFolder.c_str();
        const DWORD error = retryWhileHeld(HeldThing::Folder, folder, [folder] {
            return RemoveDirectoryW(folder) ? DWORD{0} : GetLastError();
        });
        // The folder stays for the next run, which uses it again; the exit code is not touched.
        if (folderLeftUnreported(error)) {
            logLine(L"a pasta fica: %s (%lu)", folder, error);
        }
    }
}
