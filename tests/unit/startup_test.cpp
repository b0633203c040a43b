#include "job/result_codes.h"
#include "job/setup_job.h"
#include "app/launch.h"
#include "app/options.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/window_policy.h"
#include "app/work_folder.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <cstring>
#include <cwchar>
#include <set>
#include <string_view>
#include <vector>

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

// What deployment tools do to a run; Wine shows none of SYSTEM, session 0 or an invisible
// station, so these rows stand in for them.
TEST(WindowPolicy, NoWindowWhereNobodySeesItAndNoLinkWhenElevated) {
    using enum NoWindowReason;
    const struct {
        const char* name;
        WindowFacts facts;
        NoWindowReason noWindow;
        bool addressAsText;
        bool redirectionGuard;
    } cases[] = {
        {"a user's run", {}, None, false, false},
        {"the option", {true}, Option, false, false},
        {"SYSTEM", {false, true, true, false}, System, false, true},
        {"session 0", {false, false, true, true}, SessionZero, false, false},
        {"an invisible station", {false, false, false, false}, InvisibleStation, false, false},
        {"elevated", {false, false, false, true, true}, None, true, true},
        {"elevated, the option", {true, false, false, true, true}, Option, true, true},
        {"SYSTEM in session 0", {false, true, true, false, true}, System, true, true},
    };
    for (const auto& c : cases) {
        const WindowDecision decision = decideWindow(c.facts);
        EXPECT_EQ(decision.noWindow, c.noWindow) << c.name;
        EXPECT_EQ(decision.addressAsText, c.addressAsText) << c.name;
        EXPECT_EQ(noWindowLine(c.noWindow) != nullptr, c.noWindow != None && c.noWindow != Option)
            << c.name;
        TokenFacts token;
        token.system = c.facts.system;
        token.elevated = c.facts.elevated;
        EXPECT_EQ(wantsRedirectionGuard(token), c.redirectionGuard) << c.name;
    }
}

// Runs for the whole machine share a folder across sessions, and an elevated run shares its
// session with its user's runs; in session 0 "Local\" is global: there a stranger may make the
// name first, and only a trusted owner is another run.
TEST(SingleInstance, OneRunPerSessionAndPerMachineWhoeverMadeTheNameFirst) {
    TokenFacts token;
    ASSERT_EQ(readTokenFacts(token), 0u);
    // Each name as "Local" or "Global", then "+" when shared, "u" when the user's mutex counts as
    // another run, "w" when the user may look at it.
    const auto names = [&](const InstanceScopes& scopes) {
        std::string text;
        for (std::size_t i = 0; i < scopes.count; ++i) {
            const InstanceScope& scope = scopes.scopes[i];
            text +=
                std::string(std::wcscmp(scope.name, kLocalMutexName) == 0 ? " Local" : " Global") +
                (scope.shared ? "+" : "") + (scope.ownerUser == token.user() ? "u" : "") +
                (scope.watcher == token.user() ? "w" : "");
        }
        return text;
    };
    const struct {
        const char* name;
        bool system, elevated, administrator, sessionZero;
        const char* scopes;
    } cases[] = {
        {"a user's run", false, false, false, false, " Local"},
        {"a user's run in session 0", false, false, false, true, " Local+u"},
        {"an elevated administrator", false, true, true, false, " Global+ Local+uw"},
        {"elevated Backup Operators", false, true, false, false, " Global+u Local+uw"},
        {"elevated in session 0", false, true, true, true, " Global+"},
        {"SYSTEM in session 0", true, true, true, true, " Global+"},
    };
    for (const auto& c : cases) {
        token.system = c.system;
        token.elevated = c.elevated;
        token.administrator = c.administrator;
        const InstanceScopes scopes = instanceScopesFor(token, c.sessionZero);
        EXPECT_EQ(names(scopes), c.scopes) << c.name;
        EXPECT_EQ(scopes.user, token.user()) << c.name;
    }
    using enum MutexOpen;
    using enum InstanceVerdict;
    const struct {
        bool shared;
        MutexOpen open;
        bool ownerTrusted;
        InstanceVerdict verdict;
    } verdicts[] = {
        {false, Created, false, Alone},       {false, Existed, false, AnotherRun},
        {false, Denied, false, Alone},        {false, Denied, true, AnotherRun},
        {false, Failed, false, Alone},        {true, Created, false, Alone},
        {true, Existed, true, AnotherRun},    {true, Existed, false, StrangerHolds},
        {true, Denied, false, StrangerHolds}, {true, Denied, true, StrangerHolds},
    };
    for (const auto& c : verdicts) {
        EXPECT_EQ(judgeInstance(c.shared, c.open, c.ownerTrusted), c.verdict)
            << c.shared << static_cast<int>(c.open) << c.ownerTrusted;
    }
}

// Whom the working folder's rule trusts, and where the temporary folder comes from. Wine shows
// every elevated token with the Administrators group and has no GetTempPath2W: the other rows
// stand in for Windows.
TEST(TrustedSet, AnElevatedTokenDropsItsUserOnlyWithTheAdministrators) {
    using enum TempSource;
    const struct {
        const char* name;
        bool system, elevated, administrator;
        bool userTrusted, highLabel;
        TempSource source, withoutTempPath2;
    } cases[] = {
        {"a user's run", false, false, false, true, false, TempPath, TempPath},
        {"a filtered administrator", false, false, true, true, false, TempPath, TempPath},
        {"an elevated administrator", false, true, true, false, false, WindowsTemp, WindowsTemp},
        {"elevated Backup Operators", false, true, false, true, true, WindowsTemp, WindowsTemp},
        {"SYSTEM", true, true, true, false, false, TempPath, WindowsTemp},
    };
    for (const auto& c : cases) {
        TokenFacts token;
        ASSERT_EQ(readTokenFacts(token), 0u);
        token.system = c.system;
        token.elevated = c.elevated;
        token.administrator = c.administrator;
        const TrustedSet trusted = trustedSetFor(token);
        EXPECT_EQ(trusted.user, c.userTrusted ? token.user() : nullptr) << c.name;
        EXPECT_EQ(trusted.highLabel, c.highLabel) << c.name;
        EXPECT_EQ(tempSourceFor(token, true), c.source) << c.name;
        EXPECT_EQ(tempSourceFor(token, false), c.withoutTempPath2) << c.name;
    }
}

// What the set writes into what it makes, read back as text.
TEST(TrustedSet, ProtectedDescriptorsGrantTheSetAloneAndLabelItsFolders) {
    TokenFacts token;
    ASSERT_EQ(readTokenFacts(token), 0u);
    UniqueLocal userText;
    ASSERT_TRUE(ConvertSidToStringSidW(token.user(), reinterpret_cast<LPWSTR*>(userText.put())));
    const std::wstring user = static_cast<const wchar_t*>(userText.get());
    // The DACL as text; the label (which Wine writes as no other text) as the run reads it.
    const auto sddl = [](const TrustedSet& trusted, ProtectedObject object, PSID watcher) {
        UniqueLocal descriptor;
        UniqueLocal text;
        EXPECT_EQ(protectedSecurity(trusted, object, descriptor, watcher), 0u);
        EXPECT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
            descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
            reinterpret_cast<LPWSTR*>(text.put()), nullptr));
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        PACL sacl = nullptr;
        EXPECT_TRUE(GetSecurityDescriptorSacl(descriptor.get(), &present, &sacl, &defaulted));
        return std::wstring(static_cast<const wchar_t*>(text.get())) +
               (highLabelIn(sacl) ? L" labelled" : L"");
    };
    using enum ProtectedObject;
    const struct {
        const char* name;
        TrustedSet trusted;
        ProtectedObject object;
        PSID watcher;
        std::wstring expected;
    } cases[] = {
        {"an administrator's folder", {}, Folder, nullptr, L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"},
        {"Backup Operators' folder",
         {token.user(), true},
         Folder,
         nullptr,
         L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + user + L") labelled"},
        {"a log", {}, File, nullptr, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)"},
        {"the session's mutex",
         {},
         Mutex,
         token.user(),
         L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120000;;;" + user + L")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sddl(c.trusted, c.object, c.watcher), c.expected) << c.name;
    }
}

TEST(Launch, CommandLineTempFolderAndSuccessCodes) {
    EXPECT_EQ(installerCommandLine(L"C:\\T\\a b\\S.exe", L""), L"\"C:\\T\\a b\\S.exe\"");
    EXPECT_EQ(installerCommandLine(L"C:\\S.exe", L"/quiet /log C:\\x"),
              L"\"C:\\S.exe\" /quiet /log C:\\x");
    for (std::uint32_t code : {0u, 3010u, 1641u, 1618u}) {
        EXPECT_TRUE(installerCodePassedOn(code)) << code;
    }
    for (std::uint32_t code : {1u, 1602u, 1603u, 1617u, 1619u, 3011u, 0x80000000u}) {
        EXPECT_FALSE(installerCodePassedOn(code)) << code;
    }
    using enum InstallerTemp;
    // for the whole machine, TMP and TEMP both name the program's folder, open to others
    EXPECT_EQ(chooseInstallerTemp(false, true, false), Inherited);
    EXPECT_EQ(chooseInstallerTemp(false, true, true), PrivateFolder);
    EXPECT_EQ(chooseInstallerTemp(true, false, false), MachineTemp); // SystemTemp
    EXPECT_EQ(chooseInstallerTemp(true, true, false), Inherited);
    EXPECT_EQ(chooseInstallerTemp(true, true, true), PrivateFolder); // C:\Windows\Temp
    EXPECT_EQ(chooseInstallerTemp(false, false, false), Inherited);
}

// --argumentos that make a fresh working folder's installer's command line exactly as long as
// CreateProcessW takes pass the check, one more character does not.
TEST(LongestInstallerPath, ArgumentsUpToTheLimitOfTheLaunchsCommandLine) {
    const std::wstring temp = L"C:\\T\\";
    const std::wstring installer =
        pathIn(pathIn(temp, kWorkFolderName + freshSuffix(0)), kInstallerFileName);
    std::wstring arguments(kCommandLineLimit, L'a');
    // Less what the launch puts before them.
    arguments.resize(2 * kCommandLineLimit - installerCommandLine(installer, arguments).size());
    ASSERT_EQ(installerCommandLine(installer, arguments).size(), kCommandLineLimit);
    CommandLineOptions options;
    options.installerArguments = arguments;
    EXPECT_EQ(refusedOptionValue(options, longestInstallerPath(temp)), nullptr);
    options.installerArguments = arguments + L'a';
    EXPECT_NE(refusedOptionValue(options, longestInstallerPath(temp)), nullptr);
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
        {3, R::Finished, M::NotShown, false},
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

namespace {

// The resources of the built executable, read back as Windows reads them.
class BuiltResources : public testing::Test {
  protected:
    void SetUp() override {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        exe = self;
        exe = exe.substr(0, exe.rfind(L'\\'));
        exe = exe.substr(0, exe.rfind(L'\\')) + L"\\Skyloom-Setup.exe";
        module = LoadLibraryExW(exe.c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << "build Skyloom-Setup.exe first";
    }
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }

    std::string_view resource(const wchar_t* type, WORD id) const {
        HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id),
                                      MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (found == nullptr) {
            return {};
        }
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return {data, SizeofResource(module, found)};
    }

    std::wstring exe;
    HMODULE module = nullptr;
};

TEST_F(BuiltResources, ManifestNamesEveryElementAndValue) {
    const std::string_view manifest = resource(RT_MANIFEST, 1);
    ASSERT_FALSE(manifest.empty());
    const char* expected[] = {
        "<assemblyIdentity type=\"win32\" name=\"Quorvane.Skyloom.Setup\" version=\"1.0.0.0\" "
        "processorArchitecture=\"amd64\"/>",
        "<description>Skyloom Setup</description>",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
        ">true/pm</dpiAware>",
        ">PerMonitorV2</dpiAwareness>",
        "<assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
        "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
        "language=\"*\"/>",
    };
    for (const char* text : expected) {
        EXPECT_NE(manifest.find(text), std::string_view::npos) << text;
    }
    EXPECT_EQ(manifest.substr(0, 5), "<?xml");
    EXPECT_NE(manifest.find("encoding=\"UTF-8\""), std::string_view::npos);
    // The dependency sits inside a dependency element, not beside it.
    const std::size_t dependency = manifest.find("<dependentAssembly>");
    EXPECT_LT(manifest.find("<dependency>"), dependency);
    EXPECT_LT(dependency, manifest.find("Microsoft.Windows.Common-Controls"));
}

TEST_F(BuiltResources, VersionBlockKeysAndFixedInfo) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));
    struct Key {
        const wchar_t* name;
        const wchar_t* value;
    };
    const Key keys[] = {
        {L"FileVersion", L"1.0.0.0"},        {L"ProductVersion", L"1.0.0.0"},
        {L"CompanyName", L"Quorvane, Lda"},  {L"FileDescription", L"Skyloom Setup"},
        {L"InternalName", L"Skyloom-Setup"}, {L"OriginalFilename", L"Skyloom-Setup.exe"},
        {L"ProductName", L"Skyloom"},
    };
    for (const Key& k : keys) {
        void* value = nullptr;
        UINT length = 0;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + k.name;
        ASSERT_TRUE(VerQueryValueW(block.data(), path.c_str(), &value, &length)) << path;
        EXPECT_STREQ(static_cast<const wchar_t*>(value), k.value);
    }
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904b0\\LegalCopyright", &value,
                               &length));
    EXPECT_GT(length, 1u);
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(static_cast<const WORD*>(value)[0], 0x0409);
    EXPECT_EQ(static_cast<const WORD*>(value)[1], 0x04b0);
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0u);
    EXPECT_EQ(fixed.dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0u);
    EXPECT_EQ(fixed.dwFileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed.dwFileFlags, 0u);
    EXPECT_EQ(fixed.dwFileOS, 0x40004u);
    EXPECT_EQ(fixed.dwFileType, 1u);
}

#pragma pack(push, 2)
struct GroupEntry {
    BYTE width, height, colours, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST_F(BuiltResources, IconGroupHoldsSevenImagesOf32Bits) {
    const std::string_view group = resource(RT_GROUP_ICON, 1);
    ASSERT_GE(group.size(), 6u);
    const auto* header = reinterpret_cast<const WORD*>(group.data());
    EXPECT_EQ(header[1], 1); // icons, not cursors
    ASSERT_EQ(header[2], 7);
    ASSERT_EQ(group.size(), 6 + 7 * sizeof(GroupEntry));
    const int sizes[] = {16, 24, 32, 48, 64, 128, 256};
    std::size_t stored = 0;
    for (int i = 0; i < 7; ++i) {
        GroupEntry e;
        std::memcpy(&e, group.data() + 6 + i * sizeof e, sizeof e);
        // 256 is written as 0 in the directory.
        EXPECT_EQ(e.width, sizes[i] == 256 ? 0 : sizes[i]) << i;
        EXPECT_EQ(e.height, e.width) << i;
        EXPECT_EQ(e.bitCount, 32) << i;
        const std::string_view image = resource(RT_ICON, e.id);
        ASSERT_EQ(image.size(), e.bytes) << i;
        stored += image.size();
        // Either a PNG (its width in the IHDR chunk, 8 bits a channel, RGBA) or a 32-bit DIB.
        if (image.substr(0, 8) == "\x89PNG\r\n\x1a\n") {
            const auto* ihdr = reinterpret_cast<const unsigned char*>(image.data()) + 16;
            EXPECT_EQ((ihdr[0] << 24) | (ihdr[1] << 16) | (ihdr[2] << 8) | ihdr[3], sizes[i]);
            EXPECT_EQ(ihdr[8], 8) << i;
            EXPECT_EQ(ihdr[9], 6) << i;
        } else {
            BITMAPINFOHEADER dib;
            std::memcpy(&dib, image.data(), sizeof dib);
            EXPECT_EQ(dib.biWidth, sizes[i]) << i;
            EXPECT_EQ(dib.biHeight, 2 * sizes[i]) << i; // colour and mask
            EXPECT_EQ(dib.biBitCount, 32) << i;
        }
    }
    RecordProperty("icon_bytes", static_cast<int>(stored));
}

} // namespace
