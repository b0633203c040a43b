#pragma once
// The worker's sequence: download, check, one fresh download after a resumed file failed.

#include "job/setup_result.h"

#include <windows.h>

struct SetupJob;

struct WorkerSteps {
    SetupResult (*download)(SetupJob&);
    SetupResult (*verify)(SetupJob&);
};

extern const WorkerSteps kWorkerSteps;

// Stores result, then the final phase. Never throws.
void runWorkerSequence(SetupJob& job, const WorkerSteps& steps);

// Thread entry: the argument is the job's address.
DWORD WINAPI runWorker(LPVOID job);
