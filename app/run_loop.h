#pragma once
// The run loop: the worker (on its thread or inline), Retry, the installer's launch, clean-up.

#include "job/setup_result.h"

#include <windows.h>

struct SetupJob;

inline constexpr DWORD kWorkerWaitMilliseconds = 15000;

// What the loop calls, so that a unit test can script the worker and the dialogs.
struct RunLoopSteps {
    LPTHREAD_START_ROUTINE worker; // given the job's address
    void (*progressDialog)(SetupJob& job);
    int (*failureDialog)(SetupJob& job, bool allowRetry);
    SetupResult (*launch)(SetupJob& job);
    DWORD workerWaitMilliseconds;
};

extern const RunLoopSteps kRunLoopSteps;

// How the worker's thread ended its part of one cycle.
enum class WorkerEnd {
    Ended,        // it reached its final phase
    Cancelled,    // the dialog closed first; the worker stopped within its wait
    StillRunning, // the dialog closed first; the worker outlived its wait
    NotStarted,   // the thread could not be created
};

// How the progress dialog ended.
enum class DialogEnd {
    SawFinalPhase, // it closed itself: the worker is done with the job
    ClosedFirst,   // the user closed it: a Cancel
    NeverAppeared, // no window at all: the run goes on without one
};

[[nodiscard]] DialogEnd dialogEnd(bool dialogDone, bool dialogCreated);

// Returns the process exit code. When the worker did not end after a cancel it may still be
// using the job: the caller must then end the process without destroying the job.
[[nodiscard]] int runSetupCycle(SetupJob& job);
[[nodiscard]] int runSetupCycleWith(SetupJob& job, const RunLoopSteps& steps);
