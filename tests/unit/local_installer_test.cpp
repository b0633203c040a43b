// --instalador: the named file copied into the working folder in the download's place, with
// the download's size bounds and Cancel; the original only ever read.

#include "app/job/setup_job.h"
#include "app/local_installer.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

std::string bytesOf(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const std::wstring& path, const std::string& bytes) {
    std::ofstream(path.c_str(), std::ios::binary) << bytes;
}

TEST(LocalInstaller, CopiedWithTheDownloadsBoundsAndCancel) {
    ScratchFolder scratch{L"skyloom-local-installer-test", L"local.log"};
    struct Case {
        const char* name;
        std::size_t size; // 0: no file at the path
        bool cancel;
        SetupResult code;
        std::uint32_t detail;
    };
    const Case cases[] = {
        {"whole", (1 << 20) + 300'000, false, SetupResult::Ok, 0},
        {"smallest", 1 << 20, false, SetupResult::Ok, 0},
        {"one byte short", (1 << 20) - 1, false, SetupResult::UnexpectedSize, 0},
        {"missing", 0, false, SetupResult::LocalError, ERROR_FILE_NOT_FOUND},
        {"cancelled", 2 << 20, true, SetupResult::Cancelled, 0},
    };
    for (const Case& c : cases) {
        SetupJob job;
        job.workFolder = scratch.path();
        job.installerPath = scratch.file(L"Skyloom-win-Setup.exe");
        job.localInstaller = scratch.file(L"at hand.exe");
        job.cancelRequested.store(c.cancel);
        // What an earlier download left: a partial file and its release's validators.
        write(job.installerPath, "stale head");
        write(scratch.file(L"Skyloom-win-Setup.validadores"), "skyloom-validadores 1\n");
        std::string original(c.size, '\0');
        for (std::size_t i = 0; i < original.size(); ++i) {
            original[i] = static_cast<char>(i * 7 + i / 4093);
        }
        DeleteFileW(job.localInstaller.c_str());
        if (c.size > 0) {
            write(job.localInstaller, original);
        }

        EXPECT_EQ(copyLocalInstaller(job), c.code) << c.name;
        EXPECT_EQ(job.detail, c.detail) << c.name;
        EXPECT_EQ(job.phase.load(), JobPhase::Verifying) << c.name;
        EXPECT_EQ(bytesOf(job.localInstaller), c.size > 0 ? original : "") << c.name;
        if (c.code == SetupResult::Ok) {
            EXPECT_EQ(bytesOf(job.installerPath), original) << c.name;
            EXPECT_EQ(job.downloaded.load(), static_cast<std::int64_t>(c.size)) << c.name;
            EXPECT_EQ(job.total.load(), static_cast<std::int64_t>(c.size)) << c.name;
            EXPECT_EQ(GetFileAttributesW(scratch.file(L"Skyloom-win-Setup.validadores").c_str()),
                      INVALID_FILE_ATTRIBUTES)
                << c.name;
        }
    }
}

} // namespace
