// The trust check against real files and the real WinTrust of the platform. Signed files are
// made by the end-to-end tests (tests/e2e/test_trust.py); here: files that cannot be opened,
// an unsigned program, and the release of the policy state.

#include "job/setup_job.h"
#include "base/wide_format.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "scratch_folder.h"
#include "trust/trust_state.h"
#include "trust/verify_installer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

std::string narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

class TrustCheck : public testing::Test {
  protected:
    void SetUp() override {
        job_.installerPath = file_;
        job_.workFolderHandle = scratch_.hold();
    }
    void TearDown() override {
        if (job_.verifiedFile != INVALID_HANDLE_VALUE) {
            CloseHandle(job_.verifiedFile);
        }
    }
    std::string log() const { return scratch_.logText(); }
    // This very test program: a real PE file without a signature.
    void copyUnsignedProgram() {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        ASSERT_TRUE(CopyFileW(self, file_.c_str(), FALSE)) << GetLastError();
    }
    ScratchFolder scratch_{L"skyloom-trust-test", L"trust.log"};
    const std::wstring file_ = scratch_.file(L"Skyloom-win-Setup.exe");
    SetupJob job_;
};

TEST_F(TrustCheck, FileThatCannotBeOpenedIsALocalError) {
    struct Case {
        const wchar_t* why;
        std::wstring path;
        DWORD holderAccess; // 0: nobody holds the file
        DWORD holderShare;
        DWORD expectedError;
    };
    const Case cases[] = {
        {L"no file", file_, 0, 0, ERROR_FILE_NOT_FOUND},
        {L"no working folder held", file_, 0, 0, ERROR_INVALID_HANDLE},
        // Someone may still write: read sharing alone cannot be granted.
        {L"open for writing elsewhere", file_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
         ERROR_SHARING_VIOLATION},
        {L"held without sharing", file_, GENERIC_READ, 0, ERROR_SHARING_VIOLATION},
    };
    for (const Case& c : cases) {
        heldWaitedMs = 0;
        closeLog(); // kept open by the last line
        DeleteFileW(scratch_.logFile().c_str());
        HANDLE holder = INVALID_HANDLE_VALUE;
        if (c.holderAccess != 0) {
            holder = CreateFileW(file_.c_str(), c.holderAccess, c.holderShare, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE) << c.why;
        }
        SetupJob job;
        job.installerPath = c.path;
        if (c.expectedError != ERROR_INVALID_HANDLE) {
            job.workFolderHandle = scratch_.hold();
        }
        EXPECT_EQ(verifyInstaller(job), SetupResult::LocalError) << c.why;
        EXPECT_EQ(job.detail, c.expectedError) << c.why;
        EXPECT_EQ(job.verifiedFile, INVALID_HANDLE_VALUE) << c.why;
        EXPECT_EQ(job.phase.load(), JobPhase::Verifying) << c.why;
        // A file held for longer than the waits: one line when the wait starts, one at the end.
        std::vector<std::string> expected;
        if (c.expectedError == ERROR_SHARING_VIOLATION) {
            expected = {"o ficheiro esta' ocupado: espero (32)",
                        "desisto: " + narrow(c.path) + " (32)"};
        }
        EXPECT_EQ(scratch_.logMessages(), expected) << c.why;
        if (holder != INVALID_HANDLE_VALUE) {
            CloseHandle(holder);
        }
        DeleteFileW(file_.c_str());
    }
}

TEST_F(TrustCheck, UnsignedProgramIsRejectedWithTheStatusAndStaysLocked) {
    copyUnsignedProgram();
    job_.detail = 7;
    EXPECT_EQ(verifyInstaller(job_), SetupResult::SignatureInvalid);
    EXPECT_EQ(job_.detail, static_cast<std::uint32_t>(TRUST_E_NOSIGNATURE));
    ASSERT_NE(job_.verifiedFile, INVALID_HANDLE_VALUE);
    const std::string text = log();
    ASSERT_GE(text.size(), 27u);
    EXPECT_EQ(text.substr(25), "WinVerifyTrust: 0x800B0100\r\n");

    // The handle that stays open lets others read, but nobody may write or delete.
    HANDLE reader = CreateFileW(file_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    if (reader != INVALID_HANDLE_VALUE) {
        CloseHandle(reader);
    }
    HANDLE writer = CreateFileW(file_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD writeError = GetLastError();
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(writeError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }
    EXPECT_FALSE(DeleteFileW(file_.c_str()));
}

TEST_F(TrustCheck, NotAProgramAtAllIsRejected) {
    {
        std::ofstream out(file_.c_str(), std::ios::binary);
        out << std::string(4096, 'x');
    }
    EXPECT_EQ(verifyInstaller(job_), SetupResult::SignatureInvalid);
    EXPECT_NE(job_.detail, 0u);
    EXPECT_NE(job_.verifiedFile, INVALID_HANDLE_VALUE);
    wchar_t expected[64];
    formatWide(expected, L"WinVerifyTrust: 0x%08lX\r\n", job_.detail);
    std::wstring wide(expected);
    EXPECT_EQ(log().substr(25), std::string(wide.begin(), wide.end()));
}

// The guard hands the state back with WTD_STATEACTION_CLOSE, once, unless released.
TEST_F(TrustCheck, StateGuardClosesTheStateOfARealCheck) {
    copyUnsignedProgram();
    for (const bool released : {false, true}) {
        WINTRUST_FILE_INFO file = {};
        file.cbStruct = sizeof(file);
        file.pcwszFilePath = file_.c_str();
        WINTRUST_DATA data = {};
        data.cbStruct = sizeof(data);
        data.dwUIChoice = WTD_UI_NONE;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &file;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        GUID action = kAuthenticodeAction;
        {
            UniqueTrustState state(&data);
            EXPECT_EQ(WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data),
                      TRUST_E_NOSIGNATURE);
            EXPECT_EQ(state.get(), &data);
            if (released) {
                EXPECT_EQ(state.release(), &data);
            }
        }
        if (released) {
            EXPECT_EQ(data.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_VERIFY));
            // Still held: nobody has handed the state back yet.
            EXPECT_NE(data.hWVTStateData, nullptr);
            TrustStateTraits::close(&data);
        }
        EXPECT_EQ(data.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_CLOSE)) << released;
        // WinVerifyTrust itself empties the state handle when it frees the state: the release
        // call was really made, not only the field set.
        EXPECT_EQ(data.hWVTStateData, nullptr) << released;
    }
}

TEST_F(TrustCheck, StateGuardMovesWithoutClosingTwice) {
    WINTRUST_DATA data = {};
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    UniqueTrustState outer;
    {
        UniqueTrustState inner(&data);
        outer = std::move(inner);
        EXPECT_FALSE(inner.valid());
    }
    EXPECT_EQ(data.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_VERIFY));
    EXPECT_TRUE(outer.valid());
}

} // namespace
