// Skyloom-Setup.exe: fetches, checks and runs the Skyloom installer.

#include "app/guarded_entry.h"
#include "job/setup_job.h"
#include "app/run_loop.h"
#include "app/startup.h"
#include "base/handles.h"
#include "log/diagnostic_log.h"

#include <shellapi.h>

#include <optional>
#include <string_view>
#include <vector>

namespace {

int runProcess(SetupJob& job, void* context) {
    const HINSTANCE instance = static_cast<HINSTANCE>(context);
    hardenProcess();

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::optional<int> early;
    {
        // Freed on every way out, an exception from the copies below included.
        const UniqueLocal argvMemory(argv);
        std::vector<std::wstring_view> args;
        for (int i = 1; argv != nullptr && i < argc; ++i) {
            args.emplace_back(argv[i]);
        }
        early = prepareJob(job, instance, args);
    }
    if (early) {
        return *early;
    }
    return runSetupCycle(job);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    SetupJob job;
    const int code = runGuarded(job, runProcess, instance);
    // Ended here rather than by returning: a worker that did not stop after a cancel may
    // still be using the job, which must not be destroyed under it.
    ExitProcess(static_cast<UINT>(code));
}
