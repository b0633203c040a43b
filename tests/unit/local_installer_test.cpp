// --instalador beyond what the end-to-end runs show: the download's size bounds, a path that
// cannot be read and Cancel; the named file only ever read.

#include "job/setup_job.h"
#include "app/local_installer.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(LocalInstaller, BoundsMissingFileAndCancel) {
    ScratchFolder scratch{L"skyloom-local-installer-test", L"local.log"};
    const std::tuple<std::size_t, bool, SetupResult> cases[] = {
        {(1 << 20) - 1, false, SetupResult::UnexpectedSize},
        {0, false, SetupResult::LocalError}, // no file at the path
        {2 << 20, true, SetupResult::Cancelled}};
    for (const auto& [size, cancel, code] : cases) {
        SetupJob job;
        job.workFolder = scratch.path();
        job.workFolderHandle = scratch.hold();
        job.installerPath = scratch.file(L"Skyloom-win-Setup.exe");
        job.localInstaller = scratch.file(L"at hand.exe");
        job.cancelRequested.store(cancel);
        DeleteFileW(job.localInstaller.c_str());
        if (size > 0) {
            std::ofstream(job.localInstaller.c_str(), std::ios::binary) << std::string(size, 'x');
        }
        EXPECT_EQ(copyLocalInstaller(job), code) << size;
        EXPECT_EQ(job.detail, size == 0 ? ERROR_FILE_NOT_FOUND : 0u) << size;
        std::ifstream original(job.localInstaller.c_str(), std::ios::binary | std::ios::ate);
        EXPECT_EQ(static_cast<std::size_t>(std::max<std::streamoff>(0, original.tellg())), size);
    }
}

} // namespace
