#include "app/local_installer.h"

#include "job/setup_job.h"
#include "base/handles.h"
#include "download/download_installer.h"
#include "download/body_transfer.h"
#include "download/judge_response.h"
#include "download/partial_download.h"
#include "download/response_rules.h"
#include "download/transfer_rules.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

namespace {

SetupResult failed(SetupJob& job, DWORD error, SetupResult code) {
    job.detail = error;
    return code;
}

// Links are followed: what lies behind them is what gets copied, and the copy is checked.
// Read sharing only, so nobody writes the file while it is read; nobody is kept from
// deleting or renaming it either way, since the copy is what is used. A named pipe's server
// (a path such as \\.\pipe\x) may act for its client only at the identification level, and
// anything that is not a file on a disk is refused.
DWORD openSource(const wchar_t* path, UniqueFile& file) {
    const DWORD error = retryWhileHeld(HeldThing::File, path, [&] {
        file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN |
                                   SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                               nullptr));
        return file ? DWORD{0} : GetLastError();
    });
    if (error == 0 && GetFileType(file.get()) != FILE_TYPE_DISK) {
        file.reset();
        return ERROR_BAD_FILE_TYPE;
    }
    return error;
}

// A volume that cannot tell its free space does not stop the copy, as with a download.
bool enoughRoomFor(const SetupJob& job, std::int64_t size) {
    std::int64_t freeBytes = 0;
    return !kResponseIo.freeSpace(job.workFolder.c_str(), freeBytes) ||
           enoughSpace(freeBytes, spaceNeeded(size, 0));
}

bool readSource(void* source, void* buffer, DWORD capacity, DWORD& read) {
    return ReadFile(static_cast<HANDLE>(source), buffer, capacity, &read, nullptr) != FALSE;
}

SetupResult copyBody(SetupJob& job, HANDLE from, HANDLE to, std::int64_t size) {
    std::int64_t copied = 0;
    switch (transferBody(job, readSource, from, to, size, copied)) {
    case BodyEnd::Complete:
        return SetupResult::Ok;
    case BodyEnd::Cancelled:
        return SetupResult::Cancelled;
    case BodyEnd::ReadFailed:
        logLine(L"a leitura de %s parou aos %lld (%lu)", job.localInstaller.c_str(), copied,
                job.detail);
        return SetupResult::LocalError;
    case BodyEnd::EndedShort:
    case BodyEnd::TooLong:
        // The size read at the start no longer holds: the file changed under the copy.
        logLine(L"%s mudou durante a copia (%lld de %lld)", job.localInstaller.c_str(), copied,
                size);
        return failed(job, ERROR_FILE_INVALID, SetupResult::LocalError);
    case BodyEnd::WriteFailed:
        break;
    }
    return writeFailure(job.detail);
}

} // namespace

SetupResult copyLocalInstaller(SetupJob& job) {
    // The dialog shows its checking face from here: nothing is downloaded.
    job.phase.store(JobPhase::Verifying);
    const wchar_t* source = job.localInstaller.c_str();
    logLine(L"instalador local: %s", source);
    UniqueFile from;
    if (const DWORD opened = openSource(source, from); opened != 0) {
        logLine(L"nao consegui abrir %s (%lu)", source, opened);
        return failed(job, opened, SetupResult::LocalError);
    }
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(from.get(), &length)) {
        return failed(job, GetLastError(), SetupResult::LocalError);
    }
    const std::int64_t size = length.QuadPart;
    if (!sizeAcceptable(size)) {
        logLine(L"tamanho fora do esperado: %lld", size);
        return failed(job, sizeDetail(size), SetupResult::UnexpectedSize);
    }
    job.downloaded.store(0);
    job.total.store(size);

    // Under a name of its own until it is whole; then it replaces what an earlier download left,
    // whose validators go first.
    const HANDLE folder = job.workFolderHandle.get();
    UniqueFile to;
    if (const DWORD error = openCopy(folder, job.installerPath.c_str(), to); error != 0) {
        return failed(job, error, SetupResult::LocalError);
    }
    SetupResult copied = SetupResult::NotEnoughSpace;
    if (!enoughRoomFor(job, size)) {
        job.neededMegabytes = wholeMegabytes(spaceNeeded(size, 0));
    } else {
        copied = copyBody(job, from.get(), to.get(), size);
    }
    if (copied == SetupResult::Ok) {
        if (const DWORD error =
                commitCopy(kPartialDownloadIo, folder, job.installerPath.c_str(), to.get());
            error != 0) {
            copied = failed(job, error, SetupResult::LocalError);
        } else {
            logLine(L"copiado: %lld bytes", size);
            return SetupResult::Ok;
        }
    }
    // A copy that did not make it goes at once.
    (void)deleteByHandle(to.get());
    return copied;
}

SetupResult obtainInstaller(SetupJob& job) {
    return job.localInstaller.empty() ? downloadInstaller(job) : copyLocalInstaller(job);
}
