#include "platform/system_library.h"

#include "app/job/setup_job.h"
#include "log/diagnostic_log.h"

HMODULE loadSystemLibrary(const wchar_t* name, DWORD& error) {
    // Never freed: the delay-load thunks keep pointers into it for the rest of the process.
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    error = module != nullptr ? ERROR_SUCCESS : GetLastError();
    return module;
}

SetupResult loadSystemLibraries(SetupJob& job, const wchar_t* const* names, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const wchar_t* name = names[i];
        DWORD error = ERROR_SUCCESS;
        if (loadSystemLibrary(name, error) == nullptr) {
            job.detail = error;
            logLine(L"nao consegui carregar %s (%lu)", name, error);
            return SetupResult::LocalError;
        }
    }
    return SetupResult::Ok;
}
