// holdfile PATH [--cwd | --share-read-write | --share-all] [--until FLAG] [--ms N]
// Holds PATH the way an on-access scanner or a lingering process does: a file or a folder is
// opened with no sharing at all, or with --share-read-write sharing reading and writing but not
// deletion (as the program holds its working folder, which no other process can then hold
// without sharing), or with --share-all sharing deletion too (as an application may hold a
// temporary file); with --cwd the folder becomes this process's current folder instead. Prints
// "held" (or "failed N" with the system error) and lets go when the file FLAG appears or after N ms
// (default 120000), whichever comes first; then prints "released".

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: holdfile PATH [--cwd] [--until FLAG] [--ms N]\n");
        return 2;
    }
    const wchar_t* path = argv[1];
    const wchar_t* flag = nullptr;
    bool cwd = false;
    DWORD share = 0;
    DWORD limit = 120000;
    for (int i = 2; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--cwd") {
            cwd = true;
        } else if (arg == L"--share-read-write") {
            share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        } else if (arg == L"--share-all") {
            share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        } else if (arg == L"--until" && i + 1 < argc) {
            flag = argv[++i];
        } else if (arg == L"--ms" && i + 1 < argc) {
            limit = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        }
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (cwd) {
        if (!SetCurrentDirectoryW(path)) {
            std::printf("failed %lu\n", GetLastError());
            return 1;
        }
    } else {
        // Backup semantics let the same call open a folder.
        held = CreateFileW(path, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            std::printf("failed %lu\n", GetLastError());
            return 1;
        }
    }
    std::printf("held\n");
    std::fflush(stdout);
    for (DWORD waited = 0; waited < limit; waited += 20) {
        if (flag != nullptr && GetFileAttributesW(flag) != INVALID_FILE_ATTRIBUTES) {
            break;
        }
        Sleep(20);
    }
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
    } else {
        wchar_t windows[MAX_PATH] = {};
        GetWindowsDirectoryW(windows, MAX_PATH);
        SetCurrentDirectoryW(windows);
    }
    std::printf("released\n");
    std::fflush(stdout);
    return 0;
}
