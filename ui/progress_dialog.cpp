#include "ui/progress_dialog.h"

// TEMPORARY stand-in until the task dialog exists: no window, it only waits for the worker's
// final phase the way the dialog's timer will.
void showProgressDialog(SetupJob& job) {
    while (static_cast<std::int32_t>(job.phase.load()) <
           static_cast<std::int32_t>(JobPhase::Succeeded)) {
        Sleep(200);
    }
    job.dialogDone = true;
}
