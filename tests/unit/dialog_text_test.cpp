#include "job/result_codes.h"
#include "job/setup_job.h"
#include "build_config.h"
#include "ui/failure_text.h"
#include "ui/message_catalog.h"
#include "ui/progress_dialog.h"
#include "widened_catalogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const MessageCatalog& english() {
    return widenedCatalog(0);
}

std::wstring endOf(const std::wstring& text, std::size_t n) {
    return text.size() < n ? text : text.substr(text.size() - n);
}

// ---- Failure texts ----

// The content's last paragraph: the link to the full installer.
std::wstring linkOf(const MessageCatalog& catalog) {
    return L"\n\n<a href=\"" SKYLOOM_FULL_INSTALLER_URL L"\">" +
           std::wstring(catalog.fullInstallerLink) + L"</a>";
}

// The content before the link; the content itself when the link did not fit.
std::wstring withoutLink(const MessageCatalog& catalog, const std::wstring& content) {
    const std::wstring link = linkOf(catalog);
    return content.ends_with(link) ? content.substr(0, content.size() - link.size()) : content;
}

struct FailureCase {
    const char* name;
    FailureFacts facts;
    std::wstring content; // the whole content, or its beginning when prefixOnly
    bool prefixOnly;
    const wchar_t* codeText;
    bool warning;
};

TEST(FailureTexts, MessageValueCodeTextAndIconByResult) {
    const MessageCatalog& en = english();
    const std::wstring email = SKYLOOM_SUPPORT_EMAIL;
    // The download message and the advice for its cause.
    const auto plus = [&](const wchar_t* advice) {
        return en.downloadFailedText + std::wstring(L" ") + advice;
    };
    const FailureCase cases[] = {
        {"busy",
         {11, 0, 5, 0},
         L"The server is busy right now. Try again in 5 minutes.",
         false,
         L"11/0x00000000",
         true},
        {"status 404",
         {12, 404, 0, 0},
         plus(en.serverRefusedAdvice),
         false,
         L"12/0x00000194",
         false},
        {"network", {10, 12029, 0, 0}, plus(en.noConnectionAdvice), false, L"10/0x00002EFD", false},
        {"broken", {14, 0, 0, 0}, plus(en.noConnectionAdvice), false, L"14/0x00000000", false},
        {"changed",
         {14, 206, 0, 0, 0, true},
         plus(en.serverChangedAdvice),
         false,
         L"14/0x000000CE",
         false},
        {"no channel",
         {10, 12157, 0, 0},
         plus(en.secureChannelAdvice),
         false,
         L"10/0x00002F7D",
         false},
        {"name", {10, 12007, 0, 0}, plus(en.nameNotResolvedAdvice), false, L"10/0x00002EE7", false},
        {"proxy", {12, 407, 0, 0}, plus(en.proxySignInAdvice), false, L"12/0x00000197", false},
        // Windows' form of a TLS failure: the flags came through the status callback.
        {"clock",
         {10, 12175, 0, 0, 0x20},
         plus(en.certificateDatesAdvice),
         false,
         L"10/0x00002F8F",
         false},
        {"refused", {15, 0, 0, 0}, en.downloadFailedText, false, L"15/0x00000000", false},
        {"size", {13, 500, 0, 0}, en.invalidInstallerText, false, L"13/0x000001F4", false},
        {"signature",
         {20, 0x80096010u, 0, 0},
         en.invalidInstallerText,
         false,
         L"20/0x80096010",
         false},
        {"signer", {21, 0, 0, 0}, en.invalidInstallerText, false, L"21/0x00000000", false},
        {"version", {22, 0, 0, 0}, en.invalidInstallerText, false, L"22/0x00000000", false},
        {"disk",
         {30, 112, 0, 523},
         L"There isn't enough free disk space. About 523 MB are needed.",
         false,
         L"30/0x00000070",
         false},
        {"installer 100",
         {41, 100, 0, 0},
         L"The installation didn't finish (code 100). Try again",
         true,
         L"41/0x00000064",
         false},
        // The top bit set: negative in the content, the same 32 bits in hexadecimal in details.
        {"installer negative",
         {41, 0xC0000005u, 0, 0},
         L"The installation didn't finish (code -1073741819).",
         true,
         L"41/0xC0000005",
         false},
        {"launch",
         {40, 2, 0, 0},
         L"Something went wrong (40/0x00000002). Try again; if it happens again, write to us at " +
             email + L".",
         false,
         L"40/0x00000002",
         false},
        {"local",
         {50, 5, 0, 0},
         L"Something went wrong (50/0x00000005).",
         true,
         L"50/0x00000005",
         false},
        {"unknown",
         {-7, 0xFFFFFFFFu, 0, 0},
         L"Something went wrong (-7/0xFFFFFFFF).",
         true,
         L"-7/0xFFFFFFFF",
         false},
    };
    for (const FailureCase& c : cases) {
        FailureTexts texts;
        buildFailureTexts(en, c.facts, L"C:\\T\\Skyloom-Setup.log", texts);
        EXPECT_TRUE(std::wstring(texts.content).ends_with(linkOf(en))) << c.name;
        const std::wstring content = withoutLink(en, texts.content);
        if (c.prefixOnly) {
            EXPECT_EQ(content.substr(0, c.content.size()), c.content) << c.name;
        } else {
            EXPECT_EQ(content, c.content) << c.name;
        }
        EXPECT_STREQ(texts.codeText, c.codeText) << c.name;
        EXPECT_EQ(std::wstring(texts.details), L"The log file is at C:\\T\\Skyloom-Setup.log\n(" +
                                                   std::wstring(c.codeText) + L")")
            << c.name;
        EXPECT_EQ(failureIsWarning(c.facts.result), c.warning) << c.name;
    }
}

// Every code the result table sends to the dialog gets the text its message names.
TEST(FailureTexts, MessageAgreesWithTheResultTable) {
    for (std::size_t i = 0; i < kCatalogCount; ++i) {
        const MessageCatalog& catalog = widenedCatalog(i);
        for (const ResultInfo& info : kResultTable) {
            const wchar_t* expected = nullptr;
            switch (info.message) {
            case FailureMessage::DownloadFailed:
                expected = catalog.downloadFailedText;
                break;
            case FailureMessage::ServerBusy:
                expected = catalog.serverBusyFormat;
                break;
            case FailureMessage::InvalidInstaller:
                expected = catalog.invalidInstallerText;
                break;
            case FailureMessage::DiskSpace:
                expected = catalog.diskSpaceFormat;
                break;
            case FailureMessage::InstallFailed:
                expected = catalog.installFailedFormat;
                break;
            case FailureMessage::Generic:
            case FailureMessage::NotShown:
                expected = catalog.genericFailureFormat;
                break;
            }
            EXPECT_EQ(failureMessageFor(catalog, toInt(info.code)), expected) << toInt(info.code);
        }
    }
}

TEST(FailureTexts, EachBufferCutsAtItsCapacity) {
    const std::wstring path = L"C:\\" + std::wstring(2000, L'p');
    struct Case {
        const char* name;
        std::int32_t result;
        std::wstring fixed; // every fixed text and format of the catalogue
        std::size_t contentLength;
        std::wstring contentEnd;
        bool linked = false; // the link follows whole
    };
    const std::wstring pair = L"\xD83D\xDE00"; // one character, two units
    const std::size_t link = linkOf(english()).size();
    const Case cases[] = {
        {"fixed text longer", 12, std::wstring(1500, L'a'), 1023, L"aaa"},
        {"fits exactly", 12, std::wstring(1023, L'b'), 1023, L"bbb"},
        {"one short", 12, std::wstring(1022, L'c'), 1022, L"ccc"},
        // A fixed text is copied, not read as a format.
        {"percent kept", 13, L"100% sure %s %d", 15, L"%s %d", true},
        // A cut that falls inside a surrogate pair drops the half.
        {"pair at the cut", 12, std::wstring(1022, L'd') + pair, 1022, L"ddd"},
        {"format longer", 41, std::wstring(1100, L'e') + L"%d", 1023, L"eee"},
        // The link goes in whole or not at all, also at the last unit.
        {"link fits exactly", 12, std::wstring(1023 - link, L'f'), 1023 - link, L"fff", true},
        {"link one unit over", 12, std::wstring(1024 - link, L'g'), 1024 - link, L"ggg"},
    };
    for (const Case& c : cases) {
        MessageCatalog catalog = english();
        catalog.downloadFailedText = c.fixed.c_str();
        catalog.invalidInstallerText = c.fixed.c_str();
        catalog.installFailedFormat = c.fixed.c_str();
        FailureTexts texts;
        buildFailureTexts(catalog, {c.result, 3, 0, 0}, path.c_str(), texts);
        const std::wstring content = withoutLink(catalog, texts.content);
        EXPECT_EQ(content.size(), c.contentLength) << c.name;
        EXPECT_EQ(endOf(content, c.contentEnd.size()), c.contentEnd) << c.name;
        EXPECT_EQ(texts.content[kFailureTextCapacity - 1], L'\0') << c.name;
        EXPECT_EQ(std::wstring(texts.content).ends_with(linkOf(catalog)), c.linked) << c.name;

        // The sentence is cut at 1199 units; the details still end with the whole code text.
        const std::wstring sentence = texts.logSentence;
        EXPECT_EQ(sentence.size(), kLogSentenceCapacity - 1) << c.name;
        EXPECT_EQ(sentence.substr(0, 22), L"The log file is at C:\\") << c.name;
        const std::wstring code = texts.codeText;
        EXPECT_EQ(std::wstring(texts.details), sentence + L"\n(" + code + L")") << c.name;
    }
}

// ---- Progress dialog callback ----

struct Sent {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam; // for element texts: 0, the text is in text
    std::wstring text;

    bool operator==(const Sent&) const = default;
};

void record(void* context, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
    auto& sent = *static_cast<std::vector<Sent>*>(context);
    if (message == kTdmSetElementText || message == kTdmUpdateElementText) {
        sent.push_back({message, wParam, 0, reinterpret_cast<const wchar_t*>(lParam)});
    } else {
        sent.push_back({message, wParam, lParam, L""});
    }
}

Sent instruction(const wchar_t* text) {
    return {kTdmSetElementText, kTdeMainInstruction, 0, text};
}
Sent setContent(const std::wstring& text) {
    return {kTdmSetElementText, kTdeContent, 0, text};
}
Sent updateContent(const std::wstring& text) {
    return {kTdmUpdateElementText, kTdeContent, 0, text};
}
Sent position(std::uintptr_t value) {
    return {kTdmSetProgressBarPos, value, 0, L""};
}
const Sent kMarqueeStart{kTdmSetProgressBarMarquee, 1, 30, L""};
const Sent kMarqueeBarOn{kTdmSetMarqueeProgressBar, 1, 0, L""};
const Sent kMarqueeBarOff{kTdmSetMarqueeProgressBar, 0, 0, L""};
const Sent kRange{kTdmSetProgressBarRange, 0, 0x03E80000, L""};
const Sent kClickCancel{kTdmClickButton, 2, 0, L""};

// One notification with the job's state at that moment, and what the dialog must receive.
struct Step {
    UINT notification;
    JobPhase phase;
    std::int64_t total;
    std::int64_t downloaded;
    std::vector<Sent> expected;
};

constexpr std::int64_t MiB = 1 << 20;

void play(const char* name, const std::vector<Step>& steps, SetupJob& job) {
    std::vector<Sent> sent;
    const MessageSink sink{&sent, record};
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        job.phase.store(s.phase);
        job.total.store(s.total);
        job.downloaded.store(s.downloaded);
        sent.clear();
        EXPECT_EQ(progressDialogNotify(sink, s.notification, 0, job), S_OK);
        EXPECT_EQ(sent, s.expected) << name << ", step " << i;
    }
}

TEST(ProgressCallback, MessagesFollowThePhaseAndTheBytes) {
    using enum JobPhase;
    const MessageCatalog& en = english();
    const auto big = reinterpret_cast<std::intptr_t>(reinterpret_cast<HICON>(0x1111));
    const auto small = reinterpret_cast<std::intptr_t>(reinterpret_cast<HICON>(0x2222));
    const Sent created[] = {
        {WM_SETICON, ICON_BIG, big, L""}, {WM_SETICON, ICON_SMALL, small, L""}, kMarqueeStart};
    struct Scenario {
        const char* name;
        std::vector<Step> steps;
    };
    const Scenario scenarios[] = {
        {"download, check, success",
         {
             {TDN_CREATED, Connecting, 0, 0, {created[0], created[1], created[2]}},
             {TDN_TIMER, Connecting, 0, 0, {}},
             {TDN_TIMER, Connecting, 0, 0, {}},
             // The first line is longer than the one space laid out: it is set, not updated.
             {TDN_TIMER,
              Downloading,
              200 * MiB,
              0,
              {instruction(en.downloadingText), kMarqueeBarOff, kRange, position(0),
               setContent(L"0 MB of 200 MB")}},
             {TDN_TIMER,
              Downloading,
              200 * MiB,
              MiB - 1,
              {position(4), updateContent(L"0 MB of 200 MB")}},
             // More digits than laid out: laid out again.
             {TDN_TIMER,
              Downloading,
              200 * MiB,
              150 * MiB,
              {position(750), setContent(L"150 MB of 200 MB")}},
             {TDN_TIMER,
              Downloading,
              200 * MiB,
              199 * MiB,
              {position(995), updateContent(L"199 MB of 200 MB")}},
             // A restart from zero: the bar goes back, the shorter line fits the layout.
             {TDN_TIMER,
              Downloading,
              200 * MiB,
              0,
              {position(0), updateContent(L"0 MB of 200 MB")}},
             {TDN_TIMER,
              Downloading,
              200 * MiB,
              200 * MiB,
              {position(1000), updateContent(L"200 MB of 200 MB")}},
             {TDN_TIMER,
              Verifying,
              200 * MiB,
              200 * MiB,
              {instruction(en.checkingText), kMarqueeBarOn, kMarqueeStart, setContent(L" ")}},
             {TDN_TIMER, Verifying, 200 * MiB, 200 * MiB, {}},
             {TDN_TIMER, Succeeded, 200 * MiB, 200 * MiB, {kClickCancel}},
             // The dialog's own click is no cancel.
             {TDN_BUTTON_CLICKED, Succeeded, 0, 0, {}},
         }},
        {"no size yet, then a small file",
         {
             {TDN_CREATED, Connecting, 0, 0, {created[0], created[1], created[2]}},
             {TDN_TIMER,
              Downloading,
              0,
              0,
              {instruction(en.downloadingText), kMarqueeBarOff, kRange}},
             {TDN_TIMER, Downloading, -1, 5, {}},
             {TDN_TIMER,
              Downloading,
              3 * MiB,
              MiB - 1,
              {position(333), setContent(L"0 MB of 3 MB")}},
             {TDN_TIMER, Failed, 3 * MiB, MiB - 1, {kClickCancel}},
         }},
        {"complete on the server's word, then a restart after the check",
         {
             {TDN_CREATED, Connecting, 0, 0, {created[0], created[1], created[2]}},
             {TDN_TIMER,
              Verifying,
              0,
              0,
              {instruction(en.checkingText), kMarqueeBarOn, kMarqueeStart, setContent(L" ")}},
             {TDN_TIMER,
              Connecting,
              0,
              0,
              {instruction(en.connectingText), kMarqueeBarOn, kMarqueeStart, setContent(L" ")}},
             // Back to downloading: the line is longer than the space laid out again.
             {TDN_TIMER,
              Downloading,
              9 * MiB,
              0,
              {instruction(en.downloadingText), kMarqueeBarOff, kRange, position(0),
               setContent(L"0 MB of 9 MB")}},
         }},
        {"every URL refused",
         {
             {TDN_CREATED, Connecting, 0, 0, {created[0], created[1], created[2]}},
             {TDN_TIMER, Failed, 0, 0, {kClickCancel}},
         }},
    };
    for (const Scenario& scenario : scenarios) {
        SetupJob job;
        job.catalog = &en;
        job.largeIcon = reinterpret_cast<HICON>(0x1111);
        job.smallIcon = reinterpret_cast<HICON>(0x2222);
        play(scenario.name, scenario.steps, job);
        EXPECT_FALSE(job.cancelRequested.load()) << scenario.name;
        if (job.phase.load() >= Succeeded) {
            EXPECT_TRUE(job.dialogDone) << scenario.name;
        }
    }
}

TEST(ProgressCallback, MissingIconsAreNotSent) {
    SetupJob job;
    job.catalog = &english();
    play("no icons", {{TDN_CREATED, JobPhase::Connecting, 0, 0, {kMarqueeStart}}}, job);
}

// The user's Cancel: the flag first, then the request closed by whoever takes it.
TEST(ProgressCallback, CancelRaisesTheFlagAndClosesTheRequestOnce) {
    struct Case {
        const char* name;
        WPARAM button;
        bool dialogDone;
        bool withRequest;
        bool cancels;
    };
    const Case cases[] = {
        {"cancel during download", IDCANCEL, false, true, true},
        {"cancel while checking", IDCANCEL, false, false, true},
        {"the dialog's own click", IDCANCEL, true, true, false},
        {"another button", IDOK, false, true, false},
    };
    for (const Case& c : cases) {
        SetupJob job;
        job.catalog = &english();
        job.dialogDone = c.dialogDone;
        HINTERNET session =
            c.withRequest ? WinHttpOpen(L"test", WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0)
                          : nullptr;
        ASSERT_EQ(session != nullptr, c.withRequest) << c.name;
        job.activeRequest.store(session);
        std::vector<Sent> sent;
        EXPECT_EQ(progressDialogNotify({&sent, record}, TDN_BUTTON_CLICKED, c.button, job), S_OK);
        EXPECT_TRUE(sent.empty()) << c.name;
        EXPECT_EQ(job.cancelRequested.load(), c.cancels) << c.name;
        if (c.withRequest && c.cancels) {
            EXPECT_EQ(job.activeRequest.load(), nullptr) << c.name;
            // Already closed by the cancel: a second close fails.
            EXPECT_FALSE(WinHttpCloseHandle(session)) << c.name;
        } else if (c.withRequest) {
            EXPECT_EQ(job.activeRequest.load(), session) << c.name;
            EXPECT_TRUE(WinHttpCloseHandle(session)) << c.name;
        }
    }
}

TEST(ProgressPosition, TruncatedAndKeptWithinTheBar) {
    struct Case {
        std::int64_t downloaded, total, expected;
    };
    const Case cases[] = {
        {157'286'400, 209'715'200, 750},
        {1'048'575, 3'145'728, 333},
        {5, 5, 1000},
        {0, 5, 0},
        {6, 5, 1000},
        {-1, 5, 0},
        {999, 1000, 999},
        {1, 1001, 0},
        {INT64_MAX - 1, INT64_MAX, 999},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(progressPosition(c.downloaded, c.total), c.expected)
            << c.downloaded << "/" << c.total;
    }
}

} // namespace
