#pragma once
// The main thread's whole part of the process, with an exception that escapes it (an
// allocation in start-up, the run loop or the launch) answered as the worker answers one, and
// a crash ended as one.

struct SetupJob;

// The exit code of a crash: a fail-fast's STATUS_STACK_BUFFER_OVERRUN, which no code of the
// exit-code table shares (abort() gave 3, an option refused).
inline constexpr unsigned long kCrashExitCode = 0xC0000409;

// Ends the process at once by fail-fast (FAST_FAIL_FATAL_APP_EXIT): no handler of its own runs,
// and Windows Error Reporting sees the crash. std::terminate's handler.
[[noreturn]] void endCrashed() noexcept;

// The main thread's steps: given the job, returns the exit code.
using EntryBody = int (*)(SetupJob& job, void* context);

// Runs body. An exception that leaves it logs "sem memoria para continuar (8)", cleans up
// once the working folder exists (start-up records the folder only after creating it) unless
// the worker may still run, and gives LocalError (50). From its start, std::terminate (an
// exception out of a noexcept function, on any thread) ends the process by endCrashed.
[[nodiscard]] int runGuarded(SetupJob& job, EntryBody body, void* context) noexcept;
