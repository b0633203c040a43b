// download_probe --installer PATH --work-folder PATH --log PATH [--url URL]...
//                [--cancel-after-ms N | --cancel-after-bytes N] [--runs N]
// Drives the download engine without the worker: fills a SetupJob, calls downloadInstaller
// (--runs times, resetting the per-run fields as the run loop does) and prints one line per
// run:
//   probe result=R detail=D retryMinutes=M neededMegabytes=N downloaded=B total=T
//         resumedDownload=0|1 phase=P slotEmpty=0|1 canceller=none|empty|closed
//         closedHandle=H
// closedHandle is the request handle the cancel closed (16 hex digits, as Wine's trace of
// WinHttpCloseHandle prints it), 0 when it closed none.
// A cancel is raised from a second thread with the product's own cancelWorker, as the progress
// dialog raises it.

#include "job/cancel.h"
#include "app/work_folder.h"
#include "job/setup_job.h"
#include "download/download_installer.h"
#include "log/diagnostic_log.h"
#include "tests/held_folder.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

namespace {

struct ProbeOptions {
    long long cancelAfterMs = -1;
    long long cancelAfterBytes = -1;
    int runs = 1;
};

enum class Canceller { None, FoundSlotEmpty, Closed };

const char* cancellerName(Canceller c) {
    switch (c) {
    case Canceller::FoundSlotEmpty:
        return "empty";
    case Canceller::Closed:
        return "closed";
    case Canceller::None:
        break;
    }
    return "none";
}

Canceller watchAndCancel(SetupJob& job, const ProbeOptions& options,
                         const std::atomic<bool>& finished, HINTERNET& closed) {
    const ULONGLONG start = GetTickCount64();
    while (!finished.load()) {
        const bool late = options.cancelAfterMs >= 0 &&
                          static_cast<long long>(GetTickCount64() - start) >= options.cancelAfterMs;
        const bool enough =
            options.cancelAfterBytes >= 0 && job.downloaded.load() >= options.cancelAfterBytes;
        if (late || enough) {
            closed = cancelWorker(job);
            return closed != nullptr ? Canceller::Closed : Canceller::FoundSlotEmpty;
        }
        Sleep(1);
    }
    return Canceller::None;
}

void runOnce(SetupJob& job, const ProbeOptions& options) {
    resetForRun(job);
    // As the worker does before its download.
    job.resumedDownload = false;

    std::atomic<bool> finished{false};
    Canceller canceller = Canceller::None;
    HINTERNET closed = nullptr;
    std::thread watcher;
    if (options.cancelAfterMs >= 0 || options.cancelAfterBytes >= 0) {
        watcher = std::thread([&] { canceller = watchAndCancel(job, options, finished, closed); });
    }
    const char* outcome = "";
    try {
        job.result = downloadInstaller(job);
    } catch (const std::bad_alloc&) {
        outcome = " exception=bad_alloc";
    }
    finished.store(true);
    if (watcher.joinable()) {
        watcher.join();
    }
    std::printf(
        "probe result=%d detail=%lu retryMinutes=%d neededMegabytes=%lld downloaded=%lld "
        "total=%lld resumedDownload=%d phase=%d slotEmpty=%d canceller=%s closedHandle=%016llX%s\n",
        toInt(job.result), static_cast<unsigned long>(job.detail), job.retryMinutes,
        static_cast<long long>(job.neededMegabytes), static_cast<long long>(job.downloaded.load()),
        static_cast<long long>(job.total.load()), job.resumedDownload ? 1 : 0,
        static_cast<int>(job.phase.load()), job.activeRequest.load() == nullptr ? 1 : 0,
        cancellerName(canceller),
        static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(closed)), outcome);
    std::fflush(stdout);
}

UniqueFile holdFolderOf(const std::wstring& path) {
    return holdFolderAsTheProgramDoes(std::wstring(path.data(), path.size() - leafOf(path).size()));
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    SetupJob job;
    ProbeOptions options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring name = argv[i];
        const wchar_t* value = argv[i + 1];
        if (name == L"--url") {
            job.urls.emplace_back(value);
        } else if (name == L"--installer") {
            job.installerPath = value;
        } else if (name == L"--work-folder") {
            job.workFolder = value;
        } else if (name == L"--log") {
            logPath = value;
        } else if (name == L"--cancel-after-ms") {
            options.cancelAfterMs = std::wcstoll(value, nullptr, 10);
        } else if (name == L"--cancel-after-bytes") {
            options.cancelAfterBytes = std::wcstoll(value, nullptr, 10);
        } else if (name == L"--runs") {
            options.runs = static_cast<int>(std::wcstol(value, nullptr, 10));
        } else {
            std::fprintf(stderr, "download_probe: unknown option %ls\n", name.c_str());
            return 255;
        }
    }
    // The folder of the installer file, held as start-up holds the working folder.
    job.workFolderHandle = holdFolderOf(job.installerPath);
    for (int run = 0; run < options.runs; ++run) {
        runOnce(job, options);
    }
    return 0;
}
