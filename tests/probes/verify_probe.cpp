// verify_probe LOG INSTALLER [--hold FLAG]
//   Runs the trust check on INSTALLER, logging to LOG, and prints result=, detail=, phase= and
//   verified_open=. With --hold it keeps verifiedFile open, prints "holding" and waits until
//   the file FLAG exists (at most two minutes) before it closes the handle.
// verify_probe --try FILE SPARE
//   From another process: tries to read, write, rename, replace (with SPARE) and delete FILE,
//   and prints one line per operation, 1 or 0 and the error code.

#include "app/work_folder.h"
#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "trust/verify_installer.h"
#include "tests/held_folder.h"

#include <cstdio>
#include <string>

namespace {

void report(const char* name, BOOL ok, DWORD error) {
    std::printf("%s=%d error=%lu\n", name, ok ? 1 : 0, ok ? 0ul : error);
}

int tryOperations(const wchar_t* file, const wchar_t* spare) {
    HANDLE reader = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    char head[2] = {};
    DWORD got = 0;
    const BOOL read = reader != INVALID_HANDLE_VALUE && ReadFile(reader, head, 2, &got, nullptr) &&
                      got == 2 && head[0] == 'M' && head[1] == 'Z';
    if (reader != INVALID_HANDLE_VALUE) {
        error = read ? 0 : GetLastError();
        CloseHandle(reader);
    }
    report("read", read, error);

    HANDLE writer = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    error = GetLastError();
    report("write", writer != INVALID_HANDLE_VALUE, error);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }

    const std::wstring renamed = std::wstring(file) + L".renamed";
    BOOL moved = MoveFileW(file, renamed.c_str());
    error = GetLastError();
    report("rename", moved, error);
    if (moved) {
        (void)MoveFileW(renamed.c_str(), file);
    }

    moved = MoveFileExW(spare, file, MOVEFILE_REPLACE_EXISTING);
    error = GetLastError();
    report("replace", moved, error);

    const BOOL deleted = DeleteFileW(file);
    error = GetLastError();
    report("delete", deleted, error);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"--try") {
        return tryOperations(argv[2], argv[3]);
    }
    const bool hold = argc == 5 && std::wstring(argv[3]) == L"--hold";
    if (argc != 3 && !hold) {
        std::fprintf(stderr, "usage: verify_probe LOG INSTALLER [--hold FLAG]\n"
                             "       verify_probe --try FILE SPARE\n");
        return 2;
    }
    logPath = argv[1];
    SetupJob job;
    job.installerPath = argv[2];
    // The file's folder, held as start-up holds the working folder.
    const std::wstring folder(job.installerPath.data(),
                              job.installerPath.size() - leafOf(job.installerPath).size());
    job.workFolderHandle = holdFolderAsTheProgramDoes(folder);
    const SetupResult r = verifyInstaller(job);
    std::printf("result=%d\ndetail=0x%08lX\nphase=%d\nverified_open=%d\n", toInt(r),
                static_cast<unsigned long>(job.detail), static_cast<int>(job.phase.load()),
                job.verifiedFile != INVALID_HANDLE_VALUE ? 1 : 0);
    if (hold) {
        std::printf("holding\n");
        std::fflush(stdout);
        for (int waited = 0; waited < 120000; waited += 50) {
            if (GetFileAttributesW(argv[4]) != INVALID_FILE_ATTRIBUTES) {
                break;
            }
            Sleep(50);
        }
    }
    if (job.verifiedFile != INVALID_HANDLE_VALUE) {
        CloseHandle(job.verifiedFile);
    }
    return 0;
}
