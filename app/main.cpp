// Skyloom-Setup.exe: fetches, checks and runs the Skyloom installer.

#include "app/run_loop.h"
#include "app/startup.h"
#include "log/diagnostic_log.h"

#include <shellapi.h>

#include <string_view>
#include <vector>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    hardenProcess();
    const std::wstring tempFolder = findTempFolder();
    logPath = tempFolder + kLogFileName;

    SetupJob job;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring_view> args;
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    const std::optional<int> early = prepareJob(job, instance, tempFolder, args);
    args.clear();
    LocalFree(argv);
    if (early) {
        return *early;
    }
    // Ended here rather than by returning: a worker that did not stop after a cancel may
    // still be using the job, which must not be destroyed under it.
    ExitProcess(static_cast<UINT>(runSetupCycle(job)));
}
