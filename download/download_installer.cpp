#include "download/download_installer.h"

// TEMPORARY until the download engine lands.
SetupResult downloadInstaller(SetupJob& job) {
    job.detail = ERROR_CALL_NOT_IMPLEMENTED;
    return SetupResult::LocalError;
}
