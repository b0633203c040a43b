#include "download/download_installer.h"

#include "job/result_codes.h"
#include "job/setup_job.h"
#include "base/handles.h"
#include "download/judge_response.h"
#include "download/retry_policy.h"
#include "download/validator_file.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"
#include "platform/system_library.h"

namespace {

void sleepFor(DWORD milliseconds) {
    Sleep(milliseconds);
}

// Validators kept without a strong one cannot tell this release's bytes from another's, so
// the bytes go before any Range is asked for. False with job.detail set when emptying fails.
[[nodiscard]] bool startOverUnlessProvable(SetupJob& job, HANDLE file, FilePosition& position) {
    if (position.resumeOffset == 0 || resumeProof(position.kept) != ResumeProof::Unprovable) {
        return true;
    }
    logLine(L"validadores sem prova forte: recomeca do zero");
    (void)dropValidators(job.installerPath.c_str());
    if (!truncateToEmpty(file)) {
        job.detail = GetLastError();
        return false;
    }
    position = {0, position.knownTotal, {}};
    job.downloaded.store(0);
    return true;
}

// A Cancel ends the pause within one slice.
void pause(const SetupJob& job, const RetrySteps& steps, int slices) {
    for (int i = 0; i < slices; ++i) {
        if (job.cancelRequested.load()) {
            return;
        }
        steps.sleep(kPauseSliceMs);
    }
}

} // namespace

const RetrySteps kRetrySteps{attemptDownload, sleepFor};

SetupResult downloadInstaller(SetupJob& job) {
    // crypt32 too: WinHTTP loads it for TLS, and a DLL already in the process is not looked
    // for again in any folder.
    if (const DWORD error = loadSystemLibraries({L"winhttp.dll", L"crypt32.dll"}); error != 0) {
        job.detail = error;
        return SetupResult::LocalError;
    }
    return downloadInstallerWith(job, kRetrySteps);
}

SetupResult downloadInstallerWith(SetupJob& job, const RetrySteps& steps) {
    job.phase.store(JobPhase::Connecting);
    // Read sharing only: others may look at the file, nobody may write or delete it meanwhile.
    // OPEN_ALWAYS keeps what an earlier run left, so the download resumes it; a link in its
    // place is refused, not followed. A scanner may still hold the file an earlier run left:
    // tried again for a moment.
    UniqueFile file;
    const DWORD opened = retryWhileHeld(HeldThing::File, job.installerPath.c_str(), [&] {
        return openPlainFile(job.installerPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ, OPEN_ALWAYS, file);
    });
    if (opened != 0) {
        job.detail = opened;
        return SetupResult::LocalError;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        size.QuadPart = 0;
    }
    FilePosition position{size.QuadPart, 0, {}};
    const LARGE_INTEGER zero{};
    (void)SetFilePointerEx(file.get(), zero, nullptr, FILE_END);
    job.downloaded.store(position.resumeOffset);
    // Only bytes on disk have a release; an empty file's next answer keeps its own.
    if (position.resumeOffset > 0) {
        position.kept = loadValidators(job.installerPath.c_str());
    } else {
        (void)dropValidators(job.installerPath.c_str());
    }

    SetupResult code = SetupResult::NetworkError;
    for (const std::wstring& url : job.urls) {
        for (int attempt = 0; attempt < kAttemptsPerUrl; ++attempt) {
            if (attempt > 0) {
                logLine(L"nova tentativa (%d) em %s", attempt + 1, url.c_str());
                pause(job, steps, pauseSlices(attempt));
            }
            // Seen before connecting again, so a Cancel never waits on another server.
            if (job.cancelRequested.load()) {
                return SetupResult::Cancelled;
            }
            if (!startOverUnlessProvable(job, file.get(), position)) {
                return SetupResult::LocalError;
            }
            const AttemptOutcome outcome = steps.attempt(job, url, file.get(), position);
            code = outcome.code;
            position = outcome.position;
            const RetryClass retry = resultInfo(code).retryClass;
            if (retry == RetryClass::Finished) {
                return code;
            }
            if (retry != RetryClass::SameUrlAgain) {
                break;
            }
        }
    }
    return code;
}
