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
