#pragma once
// The main thread's whole part of the process, with an exception that escapes it (an
// allocation in start-up, the run loop or the launch) answered as the worker answers one.

struct SetupJob;

// The main thread's steps: given the job, returns the exit code.
using EntryBody = int (*)(SetupJob& job, void* context);

// Runs body. An exception that leaves it logs "sem memoria para continuar (8)", cleans up
// once the working folder exists (start-up records the folder only after creating it) unless
// the worker may still run, and gives LocalError (50), never std::terminate.
[[nodiscard]] int runGuarded(SetupJob& job, EntryBody body, void* context) noexcept;
