#pragma once
// The DLLs that are not KnownDLLs are delay-loaded. Each step that needs one loads it here
// first, from System32 only; the delay-load thunks then find it already in the process and a
// DLL that cannot be loaded fails the step instead of raising an exception in a thunk.

#include "app/job/setup_result.h"

#include <windows.h>

#include <cstddef>
#include <initializer_list>

struct SetupJob;

// Loads each named DLL from System32. On the first failure: logs it, stores the Windows error
// code in job.detail and returns LocalError.
[[nodiscard]] SetupResult loadSystemLibraries(SetupJob& job, const wchar_t* const* names,
                                              std::size_t count);

[[nodiscard]] inline SetupResult loadSystemLibraries(SetupJob& job,
                                                     std::initializer_list<const wchar_t*> names) {
    return loadSystemLibraries(job, names.begin(), names.size());
}

// The same without a job or a log line, for the icons: true when the DLL is loaded.
[[nodiscard]] bool loadSystemLibrary(const wchar_t* name, DWORD& error);
