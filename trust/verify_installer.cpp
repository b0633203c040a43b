#include "trust/verify_installer.h"

// TEMPORARY until the trust check lands.
SetupResult verifyInstaller(SetupJob& job) {
    job.detail = ERROR_CALL_NOT_IMPLEMENTED;
    return SetupResult::LocalError;
}
