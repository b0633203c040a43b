#pragma once
// The DLLs imported the ordinary way are KnownDLLs and ntdll (mapped into every process before
// the loader runs); WinHTTP, WinTrust, CryptoAPI and the version API are delay-loaded, and
// Common Controls is loaded by name. Each step that needs one loads it here first, from System32
// only; the delay-load thunks then find it already in the process and a DLL that cannot be
// loaded fails the step instead of raising an exception in a thunk.

#include <windows.h>

#include <cstddef>
#include <initializer_list>

// Loads each named DLL from System32. On the first failure: logs it and returns its Windows
// error code; 0 when all are loaded.
[[nodiscard]] DWORD loadSystemLibraries(const wchar_t* const* names, std::size_t count);

[[nodiscard]] inline DWORD loadSystemLibraries(std::initializer_list<const wchar_t*> names) {
    return loadSystemLibraries(names.begin(), names.size());
}

// The same for one DLL, without a log line, for the dialogs and the icons: the module, null
// when it cannot be loaded.
[[nodiscard]] HMODULE loadSystemLibrary(const wchar_t* name, DWORD& error);

// A function of a loaded module looked up by name, null when the module lacks it: for a
// function that an older version of a system DLL does not have, where a delay-load thunk would
// end the process.
template <typename Function> [[nodiscard]] Function procAddress(HMODULE module, const char* name) {
    // Through void*: FARPROC and the real signature are unrelated function types.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
