#pragma once
#include "app/setup_job.h"

// Shows progress until the worker reaches a final phase (then sets dialogDone) or the user
// cancels.
void showProgressDialog(SetupJob& job);
