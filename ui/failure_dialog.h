#pragma once
#include "app/setup_job.h"

// Explains a failed run; returns the button that closed the dialog (IDRETRY, IDCLOSE,
// IDCANCEL).
[[nodiscard]] int showFailureDialog(SetupJob& job, bool allowRetry);
