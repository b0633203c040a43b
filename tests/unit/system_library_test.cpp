#include "platform/system_library.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A loadable DLL of the build's own, copied beside unit_tests.exe under a name that System32
// does not have: the program's own folder is exactly where a planted DLL lies.
std::wstring plantBesideTheTests(const wchar_t* name) {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder.resize(folder.find_last_of(L'\\') + 1);
    const std::wstring copy = folder + name;
    CopyFileW((folder + L"probes\\planted.dll").c_str(), copy.c_str(), FALSE);
    return copy;
}

TEST(LoadSystemLibraries, System32OnlyAndTheFirstFailureEndsTheStep) {
    const std::wstring planted = plantBesideTheTests(L"skyloom-planted-test.dll");
    // The copy loads when the program's folder is searched, so a refusal below is the flag's.
    HMODULE control =
        LoadLibraryExW(L"skyloom-planted-test.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    ASSERT_NE(control, nullptr) << GetLastError();
    FreeLibrary(control);

    struct Case {
        std::vector<const wchar_t*> names;
        DWORD error;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{L"kernel32.dll"}, 0, {}},
        {{L"winhttp.dll", L"crypt32.dll"}, 0, {}},
        {{L"wintrust.dll", L"crypt32.dll", L"version.dll"}, 0, {}},
        {{L"comctl32.dll"}, 0, {}},
        {{L"skyloom-absent.dll"},
         ERROR_MOD_NOT_FOUND,
         {"nao consegui carregar skyloom-absent.dll (126)"}},
        {{L"skyloom-planted-test.dll"},
         ERROR_MOD_NOT_FOUND,
         {"nao consegui carregar skyloom-planted-test.dll (126)"}},
        // The first failure ends the step: the DLL after it is not tried, nor logged.
        {{L"winhttp.dll", L"skyloom-absent.dll", L"skyloom-other.dll"},
         ERROR_MOD_NOT_FOUND,
         {"nao consegui carregar skyloom-absent.dll (126)"}},
    };
    for (const Case& c : cases) {
        ScratchFolder scratch(L"skyloom-library-test", L"library.log");
        EXPECT_EQ(loadSystemLibraries(c.names.data(), c.names.size()), c.error) << c.names.back();
        EXPECT_EQ(scratch.logMessages(), c.lines) << c.names.back();
    }
    EXPECT_EQ(GetModuleHandleW(L"skyloom-planted-test.dll"), nullptr);
    DeleteFileW(planted.c_str());
}

} // namespace
