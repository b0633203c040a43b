#pragma once
#include "app/setup_job.h"

// Closes verifiedFile if it is open and marks it closed.
void closeVerifiedFile(SetupJob& job);

// Closes the checked file, deletes the installer and removes the working folder if empty.
void cleanUpJob(SetupJob& job);
