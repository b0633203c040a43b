// Files and folders held for a moment by another handle: the waiting policy as a table, then the
// retry loop and the clean-up against real files held by a second handle that a thread closes.

#include "app/cleanup.h"
#include "app/launch.h"
#include "job/setup_job.h"
#include "platform/held_retry.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

TEST(HeldRetryPolicy, WaitsGrowThenStopAndTheProcessBudgetCapsThem) {
    const struct {
        int failedTries;
        std::uint32_t waitedInProcess;
        DWORD wait;
    } cases[] = {
        {0, 0, 0},      {1, 0, 100},    {2, 0, 200},  {3, 0, 400},  {4, 0, 800},    {5, 0, 0},
        {4, 3700, 800}, {4, 3701, 799}, {1, 4499, 1}, {1, 4500, 0}, {2, 100000, 0}, {-1, 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(heldWaitMs(c.failedTries, c.waitedInProcess), c.wait)
            << c.failedTries << " after " << c.waitedInProcess;
    }
    // One operation held all the time waits 1.5 s; three such operations fit in the budget,
    // the fourth gets a part of its waits.
    std::uint32_t waited = 0;
    std::vector<DWORD> perOperation;
    for (int operation = 0; operation < 4; ++operation) {
        DWORD sum = 0;
        for (int failed = 1; DWORD w = heldWaitMs(failed, waited); ++failed) {
            sum += w;
            waited += w;
        }
        perOperation.push_back(sum);
    }
    EXPECT_EQ(perOperation, (std::vector<DWORD>{1500, 1500, 1500, 0}));
}

TEST(HeldRetryPolicy, OnlySharingAndLockViolationsAndForAFolderNotEmptyAreBrief) {
    const struct {
        HeldThing thing;
        DWORD error;
        bool brief;
    } cases[] = {
        {HeldThing::File, 32, true},    {HeldThing::File, 33, true},
        {HeldThing::File, 145, false},  {HeldThing::File, 5, false},
        {HeldThing::File, 2, false},    {HeldThing::File, 0, false},
        {HeldThing::File, 31, false},   {HeldThing::File, 34, false},
        {HeldThing::Folder, 32, true},  {HeldThing::Folder, 33, true},
        {HeldThing::Folder, 145, true}, {HeldThing::Folder, 5, false},
        {HeldThing::Folder, 3, false},  {HeldThing::Folder, 144, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isBriefHold(c.thing, c.error), c.brief)
            << static_cast<int>(c.thing) << " " << c.error;
    }
}

TEST(HeldRetryPolicy, OwnLineOnlyForFailuresWithoutTheRetrysLine) {
    const struct {
        DWORD error;
        bool ownLine;
    } cases[] = {{0, false},   {2, false}, {3, false},  {32, false},
                 {145, false}, {5, true},  {123, true}, {267, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(failureNeedsItsOwnLine(c.error), c.ownLine) << c.error;
    }
}

// A second handle on the file, without sharing, that a thread lets go of later: -1 holds it
// until the holder goes, 0 does not hold it at all.
class Holder {
  public:
    Holder(const std::wstring& path, int releaseAfterMs) {
        if (releaseAfterMs == 0) {
            return;
        }
        handle_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (releaseAfterMs > 0) {
            thread_ = std::thread([this, releaseAfterMs] {
                Sleep(static_cast<DWORD>(releaseAfterMs));
                CloseHandle(handle_);
            });
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    ~Holder() {
        if (thread_.joinable()) {
            thread_.join();
        } else if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::thread thread_;
};

struct LoopCase {
    const char* name;
    int holdMs; // -1: held through the whole loop; 0: not held at all
    std::uint32_t waitedBefore;
    DWORD error;
    std::uint32_t waitedAfter; // -1u: more than waitedBefore, any amount
    bool waitLine;
    bool giveUpLine;
};

class HeldRetryLoop : public testing::TestWithParam<LoopCase> {
  protected:
    ScratchFolder scratch_{L"skyloom-held-test", L"held.log"};
};

TEST_P(HeldRetryLoop, DeletesAFileOnceItsHolderLetsGo) {
    const LoopCase& c = GetParam();
    const std::wstring path = scratch_.file(L"Skyloom-win-Setup.exe");
    std::ofstream(path.c_str(), std::ios::binary) << "MZ";
    heldWaitedMs = c.waitedBefore;
    DWORD error = 0;
    {
        Holder holder(path, c.holdMs);
        ASSERT_EQ(holder.held(), c.holdMs != 0);
        error = retryWhileHeld(HeldThing::File, path.c_str(), [&] {
            return DeleteFileW(path.c_str()) ? DWORD{0} : GetLastError();
        });
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES, c.error == 0);
    if (c.waitedAfter == static_cast<std::uint32_t>(-1)) {
        EXPECT_GT(heldWaitedMs.load(), c.waitedBefore);
    } else {
        EXPECT_EQ(heldWaitedMs.load(), c.waitedAfter);
    }
    std::vector<std::string> expected;
    if (c.waitLine) {
        expected.push_back("o ficheiro esta' ocupado: espero (32)");
    }
    if (c.giveUpLine) {
        expected.push_back("desisto: " + narrow(path) + " (32)");
    }
    EXPECT_EQ(scratch_.logMessages(), expected);
    DeleteFileW(path.c_str());
    heldWaitedMs = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeldRetryLoop,
    testing::Values(LoopCase{"free", 0, 0, 0, 0, false, false},
                    LoopCase{"released_soon", 250, 0, 0, static_cast<std::uint32_t>(-1), true,
                             false},
                    LoopCase{"held_throughout", -1, 0, 32, 1500, true, true},
                    LoopCase{"little_budget_left", -1, 4400, 32, 4500, true, true},
                    LoopCase{"budget_spent", -1, 4500, 32, 4500, false, true}),
    [](const testing::TestParamInfo<LoopCase>& info) { return info.param.name; });

struct CleanUpCase {
    const char* name;
    bool installer;      // the installer file and its validators are in the folder
    bool foreign;        // a file the run did not make is in the folder
    int holdInstallerMs; // 0: not held; -1: held throughout
    bool folderStays;
    std::vector<std::string> lines; // with FOLDER and FILE for the paths
    std::uint32_t waitedBefore = 0; // of the process's budget
};

class HeldCleanUp : public testing::TestWithParam<CleanUpCase> {
  protected:
    ScratchFolder scratch_{L"skyloom-held-cleanup-test", L"cleanup.log"};
};

// The validators go only with the installer file: beside a file that stays, the next run
// would resume it blind.
TEST_P(HeldCleanUp, LeavesOnlyAFolderThatIsNotEmptyAndSaysSo) {
    const CleanUpCase& c = GetParam();
    heldWaitedMs = c.waitedBefore;
    SetupJob job;
    scratch_.placeWorkFolder(job);
    ASSERT_TRUE(job.workFolderHandle);
    const std::wstring validators = job.workFolder + L"\\Skyloom-win-Setup.validadores";
    if (c.installer) {
        std::ofstream(job.installerPath.c_str(), std::ios::binary) << "MZ";
        std::ofstream(validators.c_str(), std::ios::binary) << "skyloom-validadores 1\n";
    }
    const std::wstring foreign = job.workFolder + L"\\keep.txt";
    if (c.foreign) {
        std::ofstream(foreign.c_str(), std::ios::binary) << "x";
    }
    {
        Holder holder(job.installerPath, c.holdInstallerMs);
        cleanUpJob(job);
    }
    const bool stays = c.holdInstallerMs < 0;
    EXPECT_EQ(GetFileAttributesW(job.installerPath.c_str()) != INVALID_FILE_ATTRIBUTES, stays);
    EXPECT_EQ(GetFileAttributesW(validators.c_str()) != INVALID_FILE_ATTRIBUTES, stays);
    EXPECT_EQ(GetFileAttributesW(job.workFolder.c_str()) != INVALID_FILE_ATTRIBUTES, c.folderStays);
    std::vector<std::string> expected;
    for (std::string line : c.lines) {
        if (const auto at = line.find("FOLDER"); at != std::string::npos) {
            line.replace(at, 6, narrow(job.workFolder));
        }
        if (const auto at = line.find("FILE"); at != std::string::npos) {
            line.replace(at, 4, narrow(job.installerPath));
        }
        expected.push_back(line);
    }
    EXPECT_EQ(scratch_.logMessages(), expected);
    DeleteFileW(job.installerPath.c_str());
    DeleteFileW(validators.c_str());
    DeleteFileW(foreign.c_str());
    RemoveDirectoryW(job.workFolder.c_str());
    heldWaitedMs = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeldCleanUp,
    testing::Values(CleanUpCase{"installer_and_folder_go", true, false, 0, false, {}},
                    CleanUpCase{"no_installer_file", false, false, 0, false, {}},
                    CleanUpCase{"installer_held_a_moment",
                                true,
                                false,
                                300,
                                false,
                                {"o ficheiro esta' ocupado: espero (32)"}},
                    CleanUpCase{"foreign_file_keeps_the_folder",
                                true,
                                true,
                                0,
                                true,
                                {"a pasta esta' ocupada: espero (145)", "desisto: FOLDER (145)"}},
                    CleanUpCase{"installer_held_throughout_keeps_its_validators",
                                true,
                                false,
                                -1,
                                true,
                                {"desisto: FILE (32)", "desisto: FOLDER (145)"},
                                kHeldProcessBudgetMs}),
    [](const testing::TestParamInfo<CleanUpCase>& info) { return info.param.name; });

// A scanner still reading the new installer with no sharing: the launch waits for it as the
// file operations wait. The installer is a copy of the build's probe that prints and ends.
TEST(HeldLaunch, TheInstallerStartsOnceItsHolderLetsGo) {
    const ScratchFolder scratch(L"skyloom-held-launch-test", L"launch.log");
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring probe(self);
    probe.resize(probe.find_last_of(L'\\') + 1);
    SetupJob job;
    job.workFolder = scratch.path();
    job.installerPath = scratch.file(L"Skyloom-win-Setup.exe");
    ASSERT_TRUE(CopyFileW((probe + L"probes\\static_import_probe.exe").c_str(),
                          job.installerPath.c_str(), FALSE));
    heldWaitedMs = 0;
    {
        const Holder holder(job.installerPath, 300);
        EXPECT_EQ(launchInstaller(job), SetupResult::Ok);
    }
    const std::vector<std::string> lines = scratch.logMessages();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "o ficheiro esta' ocupado: espero (32)");
    EXPECT_EQ(lines[3], "o instalador acabou com 0");
    heldWaitedMs = 0;
}

} // namespace
