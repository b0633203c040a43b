#pragma once
#include "app/setup_job.h"

// Closes the checked file, deletes the installer and removes the working folder if empty.
void cleanUpJob(SetupJob& job);
