#include "app/result_codes.h"
#include "app/startup.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(ChooseTempFolder, OnlyALengthThatFitsIsAFolder) {
    const std::wstring shortPath = L"C:\\T\\";
    const std::wstring longest(260, L'x');
    struct Case {
        DWORD returned;
        const wchar_t* buffer;
        std::wstring expected;
    };
    const Case cases[] = {
        {0, L"", kTempFolderFallback},
        {5, shortPath.c_str(), shortPath},
        {260, longest.c_str(), longest},
        // The buffer was too small: the value is the size needed and nothing was written.
        {261, L"", kTempFolderFallback},
        {4000, L"", kTempFolderFallback},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(chooseTempFolder(c.returned, c.buffer), c.expected) << c.returned;
    }
}

TEST(BuiltInUrls, TwoHttpsUrlsWithFixedPaths) {
    const std::wstring first = kBuiltInUrls[0];
    const std::wstring second = kBuiltInUrls[1];
    EXPECT_EQ(first.rfind(L"https://", 0), 0u);
    EXPECT_EQ(second.rfind(L"https://", 0), 0u);
    EXPECT_EQ(first.substr(first.size() - 13), L"/download/app");
    EXPECT_EQ(second.substr(second.size() - 30), L"/updates/Skyloom-win-Setup.exe");
}

TEST(ResultTable, EveryCodeOnceWithItsClassAndMessage) {
    struct Expected {
        int code;
        RetryClass retry;
        FailureMessage message;
        bool failsTrustCheck;
    };
    using R = RetryClass;
    using M = FailureMessage;
    const Expected expected[] = {
        {0, R::Finished, M::NotShown, false},
        {1, R::Finished, M::NotShown, false},
        {2, R::Finished, M::NotShown, false},
        {10, R::SameUrlAgain, M::DownloadFailed, false},
        {11, R::Finished, M::ServerBusy, false},
        {12, R::NextUrl, M::DownloadFailed, false},
        {13, R::NextUrl, M::InvalidInstaller, false},
        {14, R::SameUrlAgain, M::DownloadFailed, false},
        {15, R::NextUrl, M::DownloadFailed, false},
        {20, R::NextUrl, M::InvalidInstaller, true},
        {21, R::NextUrl, M::InvalidInstaller, true},
        {22, R::NextUrl, M::InvalidInstaller, true},
        {30, R::Finished, M::DiskSpace, false},
        {40, R::NextUrl, M::Generic, false},
        {41, R::NextUrl, M::InstallFailed, false},
        {50, R::Finished, M::Generic, false},
    };
    ASSERT_EQ(kResultTable.size(), std::size(expected));
    std::set<int> seen;
    for (const Expected& e : expected) {
        const ResultInfo& info = resultInfo(static_cast<SetupResult>(e.code));
        EXPECT_EQ(toInt(info.code), e.code);
        EXPECT_EQ(info.retryClass, e.retry) << e.code;
        EXPECT_EQ(info.message, e.message) << e.code;
        EXPECT_EQ(info.failsTrustCheck, e.failsTrustCheck) << e.code;
        seen.insert(toInt(info.code));
    }
    EXPECT_EQ(seen.size(), kResultTable.size());
    EXPECT_EQ(resultInfo(static_cast<SetupResult>(99)).message, FailureMessage::Generic);
}

} // namespace

namespace {

// The icon group of the built executable, loaded the way start-up loads it.
TEST(LoadDialogIcons, BothSizesFromTheExecutablesIconGroup) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring exe = self;
    exe = exe.substr(0, exe.rfind(L'\\'));
    exe = exe.substr(0, exe.rfind(L'\\')) + L"\\Skyloom-Setup.exe";
    HMODULE module = LoadLibraryExW(exe.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << "build Skyloom-Setup.exe first";
    SetupJob job;
    loadDialogIcons(job, module);
    struct Case {
        HICON icon;
        int metric;
    };
    for (const Case& c : {Case{job.largeIcon, SM_CXICON}, Case{job.smallIcon, SM_CXSMICON}}) {
        ASSERT_NE(c.icon, nullptr);
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(c.icon, &info));
        BITMAP bitmap{};
        GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
        EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(c.metric));
        EXPECT_EQ(bitmap.bmBitsPixel, 32);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
    }
    SetupJob none;
    loadDialogIcons(none, GetModuleHandleW(nullptr)); // the test program has no icon group
    EXPECT_EQ(none.largeIcon, nullptr);
    EXPECT_EQ(none.smallIcon, nullptr);
    FreeLibrary(module);
}

} // namespace
