// An exception that leaves the main thread's steps ends the process like the worker's
// out-of-memory case: its log line, the clean-up once the working folder exists, exit 50; a
// crash ends as one.

#include "app/guarded_entry.h"
#include "job/setup_job.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <exception>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

enum class Throws { Nothing, BadAlloc, LengthError, Integer };

struct EntryCase {
    const char* name;
    Throws throws;
    bool folderRecorded; // start-up had made the working folder before the throw
    bool installerWritten;
    int exitCode;
    bool folderRemoved;
};

int fakeBody(SetupJob& job, void* context) {
    const EntryCase& c = *static_cast<const EntryCase*>(context);
    if (c.installerWritten) {
        std::ofstream(job.installerPath.c_str(), std::ios::binary) << "MZ partial";
    }
    switch (c.throws) {
    case Throws::Nothing:
        return 41;
    case Throws::BadAlloc:
        throw std::bad_alloc();
    case Throws::LengthError:
        throw std::length_error("too long");
    case Throws::Integer:
        throw 7;
    }
    return -1;
}

class GuardedEntry : public testing::TestWithParam<EntryCase> {};

TEST_P(GuardedEntry, EndsWithItsCodeAndCleansUpOnlyAFolderItMade) {
    const EntryCase& c = GetParam();
    ScratchFolder scratch(L"skyloom-guarded-entry");
    SetupJob job;
    scratch.placeWorkFolder(job);
    const std::wstring folder = job.workFolder;
    if (!c.folderRecorded) {
        job.workFolder.clear();
    }

    EXPECT_EQ(runGuarded(job, fakeBody, const_cast<EntryCase*>(&c)), c.exitCode);

    const std::vector<std::string> lines = scratch.logMessages();
    if (c.throws == Throws::Nothing) {
        EXPECT_TRUE(lines.empty());
    } else {
        EXPECT_EQ(lines, std::vector<std::string>{"sem memoria para continuar (8)"});
    }
    const bool folderThere = GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(folderThere, !c.folderRemoved);
    // Left for the test's own clean-up when the guard did not remove it.
    job.workFolderHandle.reset();
    DeleteFileW(job.installerPath.c_str());
    RemoveDirectoryW(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GuardedEntry,
    testing::Values(EntryCase{"NoException", Throws::Nothing, true, true, 41, false},
                    EntryCase{"OutOfMemoryWithPartialFile", Throws::BadAlloc, true, true, 50, true},
                    EntryCase{"OutOfMemoryEmptyFolder", Throws::BadAlloc, true, false, 50, true},
                    EntryCase{"BeforeTheFolderWasMade", Throws::BadAlloc, false, false, 50, false},
                    EntryCase{"LengthError", Throws::LengthError, true, true, 50, true},
                    EntryCase{"NotAStandardException", Throws::Integer, true, false, 50, true}),
    [](const testing::TestParamInfo<EntryCase>& info) { return info.param.name; });

// What reaches std::terminate (an exception out of a noexcept function) is a crash: a fail-fast
// that Windows Error Reporting sees, never abort()'s 3, which reads as an option refused. Run in
// a child process of its own.
TEST(GuardedEntryDeathTest, ACrashEndsAsAFailFast) {
    SetupJob job;
    const EntryBody crashes = [](SetupJob&, void*) -> int { std::terminate(); };
    EXPECT_EXIT((void)runGuarded(job, crashes, nullptr),
                testing::ExitedWithCode(static_cast<int>(kCrashExitCode)), "");
}

} // namespace
