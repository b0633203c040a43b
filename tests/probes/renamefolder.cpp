// renamefolder PATH --until FLAG
// What a process of the same account may try against a run's working folder: rename it away and
// put a folder of its own under its name, over and over, until the file FLAG appears. Prints
// "renamed N", the local time of the first rename that succeeded as the log writes its stamps
// ("first yyyy-mm-dd hh:mm:ss.mmm"), then one line "error E: N" for each error the renames met.

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 4 || std::wstring(argv[2]) != L"--until") {
        std::fprintf(stderr, "usage: renamefolder PATH --until FLAG\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const std::wstring away = path + L"-away";
    unsigned renamed = 0;
    SYSTEMTIME first{};
    std::map<DWORD, unsigned> errors;
    std::printf("started\n");
    std::fflush(stdout);
    while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES) {
        if (MoveFileExW(path.c_str(), away.c_str(), 0)) {
            if (renamed++ == 0) {
                GetLocalTime(&first);
            }
            CreateDirectoryW(path.c_str(), nullptr);
            RemoveDirectoryW(away.c_str());
        } else {
            ++errors[GetLastError()];
        }
    }
    std::printf("renamed %u\n", renamed);
    if (renamed > 0) {
        std::printf("first %04u-%02u-%02u %02u:%02u:%02u.%03u\n", first.wYear, first.wMonth,
                    first.wDay, first.wHour, first.wMinute, first.wSecond, first.wMilliseconds);
    }
    for (const auto& [error, count] : errors) {
        std::printf("error %lu: %u\n", error, count);
    }
    return 0;
}
