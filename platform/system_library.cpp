#include "platform/system_library.h"

#include "log/diagnostic_log.h"

HMODULE loadSystemLibrary(const wchar_t* name, DWORD& error) {
    // Never freed: the delay-load thunks keep pointers into it for the rest of the process.
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    error = module != nullptr ? ERROR_SUCCESS : GetLastError();
    return module;
}

DWORD loadSystemLibraries(const wchar_t* const* names, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        DWORD error = ERROR_SUCCESS;
        if (loadSystemLibrary(names[i], error) == nullptr) {
            logLine(L"nao consegui carregar %s (%lu)", names[i], error);
            return error;
        }
    }
    return 0;
}
