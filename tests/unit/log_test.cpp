#include "log/diagnostic_log.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring lineFor(const SYSTEMTIME& t, const wchar_t* format, ...) {
    wchar_t line[kLogLineCapacity];
    va_list args;
    va_start(args, format);
    const std::size_t length = formatLogLine(line, t, format, args);
    va_end(args);
    EXPECT_EQ(length, std::wstring(line).size());
    return line;
}

const SYSTEMTIME kMarch5{2026, 3, 4, 5, 14, 7, 9, 42};

TEST(LogLine, StampTwoSpacesMessageCrLf) {
    EXPECT_EQ(lineFor(kMarch5, L"erro %d (detalhe %lu)", 12, 404u),
              L"2026-03-05 14:07:09.042  erro 12 (detalhe 404)\r\n");
    const SYSTEMTIME late{999, 12, 0, 31, 23, 59, 59, 999};
    EXPECT_EQ(lineFor(late, L"%s", L"x"), L"0999-12-31 23:59:59.999  x\r\n");
}

TEST(LogLine, LongMessagesAreCutAndStillEndWithCrLf) {
    // 2048 units: 25 of stamp, 2 of line end, 1 terminator leave 2020 for the message.
    struct Case {
        std::size_t messageLength;
        std::size_t keptLength;
    };
    const Case cases[] = {{2019, 2019}, {2020, 2020}, {2021, 2020}, {2022, 2020}, {5000, 2020}};
    for (const Case& c : cases) {
        const std::wstring message(c.messageLength, L'a');
        const std::wstring line = lineFor(kMarch5, L"%s", message.c_str());
        EXPECT_EQ(line.size(), kLogStampLength + c.keptLength + 2) << c.messageLength;
        EXPECT_EQ(line.substr(line.size() - 2), L"\r\n") << c.messageLength;
        EXPECT_EQ(line.find(L'\r'), line.size() - 2) << c.messageLength;
    }
}

TEST(LogLine, CutNeverSplitsASurrogatePair) {
    // 2019 units, then a pair whose high half would be the 2020th unit.
    std::wstring message(2019, L'b');
    message += L"\U0001F600";
    const std::wstring line = lineFor(kMarch5, L"%s", message.c_str());
    EXPECT_EQ(line.size(), kLogStampLength + 2019 + 2);
    EXPECT_EQ(line.substr(line.size() - 3), L"b\r\n");

    std::wstring fits(2018, L'b');
    fits += L"\U0001F600";
    const std::wstring whole = lineFor(kMarch5, L"%s", fits.c_str());
    EXPECT_EQ(whole.substr(whole.size() - 4), L"\U0001F600\r\n");
}

// Which log file is written. Wine shows a file-level link only through the final path and
// never a stranger as owner, so those rows live here only.
TEST(LogFileRules, OnlyAFileOfItsOwnWithOneNameWhereItShouldBe) {
    const std::wstring expected = L"\\\\?\\C:\\Windows\\Temp\\Skyloom-Setup.log";
    const LogFileRules byDefault{expected, true, true, false, {}};
    const LogFileRules given{}; // --log: the user's own path
    const auto file = [&](DWORD attributes, DWORD tag, DWORD links, bool existed, bool owner) {
        return LogFileFacts{attributes, tag, links, expected, existed, owner};
    };
    constexpr DWORD kLink = FILE_ATTRIBUTE_REPARSE_POINT;
    const struct {
        const char* name;
        LogFileFacts facts;
        const LogFileRules& rules;
        LogFileVerdict verdict;
    } cases[] = {
        {"new", file(0, 0, 1, false, false), byDefault, LogFileVerdict::Use},
        {"an earlier run's", file(0, 0, 1, true, true), byDefault, LogFileVerdict::Use},
        {"a stranger's", file(0, 0, 1, true, false), byDefault, LogFileVerdict::ForeignOwner},
        {"a stranger's, given", file(0, 0, 1, true, false), given, LogFileVerdict::Use},
        {"symbolic link", file(kLink, IO_REPARSE_TAG_SYMLINK, 1, true, true), given,
         LogFileVerdict::Link},
        {"mount point", file(kLink, IO_REPARSE_TAG_MOUNT_POINT, 1, true, true), byDefault,
         LogFileVerdict::Link},
        {"cloud placeholder", file(kLink, 0x9000001A, 1, true, true), given, LogFileVerdict::Use},
        {"hard link", file(0, 0, 2, true, true), given, LogFileVerdict::SecondName},
        {"elsewhere",
         {0, 0, 1, L"\\\\?\\Z:\\x.log", true, true},
         byDefault,
         LogFileVerdict::Elsewhere},
        {"other letter case",
         {0, 0, 1, L"\\\\?\\c:\\windows\\temp\\SKYLOOM-SETUP.LOG", false, true},
         byDefault,
         LogFileVerdict::Use},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(judgeLogFile(c.facts, c.rules), c.verdict) << c.name;
    }
}

// What start-up asks of the log it opens, and when it gives way to a fresh one.
TEST(LogFileRules, StartUpsRulesAndWhenTheLogGivesWay) {
    const std::wstring temp = L"\\\\?\\C:\\Windows\\Temp";
    const TrustedSet trusted;
    const struct {
        const char* name;
        LogFileRules rules;
        std::wstring expectedFinalPath;
        bool lookFirst, ownerMustBeTrusted, protectNewFile;
    } rows[] = {
        {"open to others", defaultLogRules(temp, true, true, trusted),
         temp + L"\\Skyloom-Setup.log", true, true, false},
        {"the user's own", defaultLogRules(temp, false, true, trusted),
         temp + L"\\Skyloom-Setup.log", false, false, false},
        {"unreadable", defaultLogRules(L"", true, true, trusted), L"", true, true, false},
        // FAT and the like: every file is the world's, the last run's log too.
        {"no ACLs kept", defaultLogRules(temp, true, false, trusted), temp + L"\\Skyloom-Setup.log",
         true, false, false},
        {"--log on a local volume", privilegedLogRules(true, trusted), L"", true, true, true},
        {"--log on a share", privilegedLogRules(false, trusted), L"", true, false, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.rules.expectedFinalPath, r.expectedFinalPath) << r.name;
        EXPECT_EQ(r.rules.lookFirst, r.lookFirst) << r.name;
        EXPECT_EQ(r.rules.ownerMustBeTrusted, r.ownerMustBeTrusted) << r.name;
        EXPECT_EQ(r.rules.protectNewFile, r.protectNewFile) << r.name;
    }

    // The owner rule applies to a file the open found there already, and only to that.
    EXPECT_TRUE(openFoundFile(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(openFoundFile(ERROR_SUCCESS));

    const auto reason = [](DWORD error, LogFileVerdict verdict) {
        wchar_t why[64];
        logRefusalReason(error, verdict, why);
        return std::wstring(why);
    };
    EXPECT_EQ(reason(0, LogFileVerdict::Use), L"");
    EXPECT_EQ(reason(5, LogFileVerdict::Use), L"nao se abre (5)");
    EXPECT_EQ(reason(0, LogFileVerdict::ForeignOwner), L"o dono e' outro");

    // In a folder others may write to, a look that asks for no data comes first.
    using enum LogLookStep;
    EXPECT_EQ(afterLookingAtLog(ERROR_FILE_NOT_FOUND, LogFileVerdict::Use), Create);
    EXPECT_EQ(afterLookingAtLog(0, LogFileVerdict::Use), Open);
    EXPECT_EQ(afterLookingAtLog(0, LogFileVerdict::ForeignOwner), GiveWay);
    EXPECT_EQ(afterLookingAtLog(0, LogFileVerdict::SecondName), GiveWay);
    EXPECT_EQ(afterLookingAtLog(ERROR_ACCESS_DENIED, LogFileVerdict::Use), GiveWay);
    EXPECT_EQ(afterLookingAtLog(ERROR_PATH_NOT_FOUND, LogFileVerdict::Use), GiveWay);

    // The folder of SYSTEM's or an elevated run's --log: no link, where its path says: on a share
    // its parent's final path and its name, on a local volume its whole long path.
    const std::wstring share = L"\\\\?\\UNC\\logs\\skyloom";
    const std::wstring local = expectedFinalPathOf(L"C:\\ProgramData\\Quorvane\\logs\\");
    EXPECT_EQ(local, L"\\\\?\\C:\\ProgramData\\Quorvane\\logs");
    EXPECT_EQ(expectedFinalPathOf(L"\\\\?\\C:\\x"), L"\\\\?\\C:\\x");
    EXPECT_EQ(expectedFinalPathOf(L"D:\\"), L"\\\\?\\D:");
    const struct {
        std::wstring finalPath, expected;
        FolderPlace place;
    } places[] = {
        {share + L"\\pc1", pathIn(share, L"pc1"), FolderPlace::Where},
        {L"\\\\?\\C:\\x", pathIn(share, L"pc1"), FolderPlace::Elsewhere},
        {L"\\\\?\\c:\\programdata\\QUORVANE\\logs", local, FolderPlace::Where},
        {L"\\\\?\\D:\\", expectedFinalPathOf(L"D:\\"), FolderPlace::Where},
        // A junction above the last step: the parent's final path would have passed.
        {L"\\\\?\\C:\\Users\\jo\\chosen\\logs", local, FolderPlace::Elsewhere},
    };
    for (const auto& c : places) {
        EXPECT_EQ(judgeFolderPlace(FILE_ATTRIBUTE_DIRECTORY, c.finalPath, c.expected), c.place)
            << std::string(c.finalPath.begin(), c.finalPath.end());
    }
    const auto folderReason = [](DWORD error, FolderPlace place) {
        wchar_t why[64];
        logFolderRefusal(error, place, why);
        return std::wstring(why);
    };
    EXPECT_EQ(folderReason(0, FolderPlace::Where), L"");
    EXPECT_EQ(folderReason(ERROR_ACCESS_DENIED, FolderPlace::ReparsePoint),
              L"a pasta e' uma ligacao");
    EXPECT_EQ(folderReason(3, FolderPlace::Where), L"a pasta nao se abre (3)");
}

class LogFile : public testing::Test {
  protected:
    std::string contents() const { return scratch_.logText(); }
    ScratchFolder scratch_{L"skyloom-log-test-\u00e7\u0416", L"registo \u00e7.log"};
    const std::wstring folder_ = scratch_.path();
    const std::wstring path_ = scratch_.logFile();
};

TEST_F(LogFile, Utf8WithoutBomAndAppends) {
    logLine(L"caminho %s", L"C:\\Utilizadores\\Jo\u00e3o\\Fran\u00e7a");
    logLine(L"nome %s", L"\u0418\u0432\u0430\u043d \u5c71\u7530");
    const std::string text = contents();
    ASSERT_GE(text.size(), 3u);
    EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
    const std::size_t first = text.find("\r\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.substr(25, first - 25), "caminho C:\\Utilizadores\\Jo\xC3\xA3o\\Fran\xC3\xA7"
                                           "a");
    EXPECT_EQ(text.substr(first + 2 + 25),
              "nome \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xE5\xB1\xB1\xE7\x94\xB0\r\n");
    EXPECT_EQ(text[4], '-');
    EXPECT_EQ(text.substr(23, 2), "  ");
}

TEST_F(LogFile, TwoThreadsKeepEveryLineWhole) {
    constexpr int kLines = 300;
    const std::wstring a(700, L'a');
    const std::wstring b(900, L'\u00e9');
    auto writer = [](const std::wstring* text, const wchar_t* tag) {
        for (int i = 0; i < kLines; ++i) {
            logLine(L"%s %d %s", tag, i, text->c_str());
        }
    };
    std::thread first(writer, &a, L"A");
    std::thread second(writer, &b, L"B");
    first.join();
    second.join();

    const std::string text = contents();
    const std::string aBody(700, 'a');
    std::string bBody;
    for (int i = 0; i < 900; ++i) {
        bBody += "\xC3\xA9";
    }
    std::set<std::string> seen;
    std::size_t start = 0;
    int count = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string message = text.substr(start + 25, end - start - 25);
        const std::size_t space = message.find(' ', 2);
        ASSERT_NE(space, std::string::npos) << message.substr(0, 40);
        const std::string body = message.substr(space + 1);
        EXPECT_TRUE((message[0] == 'A' && body == aBody) || (message[0] == 'B' && body == bBody))
            << message.substr(0, 40);
        EXPECT_TRUE(seen.insert(message.substr(0, space)).second);
        ++count;
        start = end + 2;
    }
    EXPECT_EQ(count, 2 * kLines);
}

TEST_F(LogFile, MissingFolderLosesTheLineQuietly) {
    logPath = folder_ + L"\\no-such-folder\\x.log";
    logLine(L"perdida");
    EXPECT_EQ(GetFileAttributesW(logPath.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((folder_ + L"\\no-such-folder").c_str()), INVALID_FILE_ATTRIBUTES);
    logPath = path_;
    logLine(L"seguinte");
    EXPECT_NE(contents().find("seguinte\r\n"), std::string::npos);
}

} // namespace

namespace {

// The reader the log tests rely on must end on any file, also one whose line ends went wrong.
TEST(ScratchFolderLog, ReadsEveryLineAndMarksOneWithoutCrLf) {
    const std::string stamp = "2026-03-05 14:07:09.042  ";
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> messages;
    } cases[] = {
        {"empty", "", {}},
        {"two whole lines", stamp + "um\r\n" + stamp + "dois\r\n", {"um", "dois"}},
        {"last line unended", stamp + "um\r\n" + stamp + "dois", {"um", "dois<no CR LF>"}},
        {"bare LF only", stamp + "um\n" + stamp + "dois\n", {"um\n" + stamp + "dois\n<no CR LF>"}},
        {"shorter than a stamp", "curto", {"<no CR LF>"}},
        {"CR alone at the end", stamp + "um\r", {"um\r<no CR LF>"}},
    };
    for (const auto& c : cases) {
        ScratchFolder scratch(L"skyloom-scratch-reader-test", L"reader.log");
        {
            std::ofstream out(scratch.logFile().c_str(), std::ios::binary);
            out << c.text;
        }
        EXPECT_EQ(scratch.logMessages(), c.messages) << c.name;
    }
}

} // namespace
