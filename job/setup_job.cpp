#include "job/setup_job.h"

void resetForRun(SetupJob& job) {
    job.cancelRequested.exchange(false);
    job.dialogDone = false;
    job.dialogCreated = false;
    job.result = SetupResult::Ok;
    job.detail = 0;
    job.serverFileChanged = false;
    job.secureFailureFlags.store(0);
    job.phase.exchange(JobPhase::Connecting);
    job.proxySignIn.prompt.store(job.noWindow ? ProxyPrompt::Closed : ProxyPrompt::Idle);
}
