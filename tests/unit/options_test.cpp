#include "app/launch.h"
#include "app/options.h"

#include <gtest/gtest.h>

namespace {

struct OptionsCase {
    const char* name;
    std::vector<std::wstring_view> args;
    std::vector<std::wstring> urls;
    bool noWindow;
    bool noRun;
    std::optional<std::wstring> logPath;
    std::wstring languageRequest;
};

class ParseOptions : public testing::TestWithParam<OptionsCase> {};

TEST_P(ParseOptions, MatchesWholeCaseSensitiveNames) {
    const OptionsCase& c = GetParam();
    const CommandLineOptions o = parseOptions(c.args);
    EXPECT_EQ(o.urls, c.urls);
    EXPECT_EQ(o.noWindow, c.noWindow);
    EXPECT_EQ(o.noRun, c.noRun);
    EXPECT_EQ(o.logPath, c.logPath);
    EXPECT_EQ(o.languageRequest, c.languageRequest);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseOptions,
    testing::Values(OptionsCase{"none", {}, {}, false, false, std::nullopt, L""},
                    OptionsCase{"two_urls_in_order",
                                {L"--url", L"A", L"--url", L"B"},
                                {L"A", L"B"},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"trailing_url_ignored",
                                {L"--sem-janela", L"--url"},
                                {},
                                true,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"value_swallows_option",
                                {L"--url", L"--sem-janela"},
                                {L"--sem-janela"},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"capitals_are_no_option",
                                {L"--URL", L"A", L"--Sem-Janela"},
                                {},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"equals_form_is_no_option",
                                {L"--url=A", L"--log=x.log"},
                                {},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"single_hyphen_and_slash",
                                {L"-url", L"A", L"/url", L"B", L"/sem-janela"},
                                {},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"prefix_is_no_option",
                                {L"--sem", L"--sem-janelas", L"--lin", L"pt"},
                                {},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"last_log_wins",
                                {L"--log", L"a.log", L"--log", L"b.log"},
                                {},
                                false,
                                false,
                                L"b.log",
                                L""},
                    OptionsCase{"last_lingua_wins",
                                {L"--lingua", L"de", L"--lingua", L"pt"},
                                {},
                                false,
                                false,
                                std::nullopt,
                                L"pt"},
                    OptionsCase{"empty_lingua_value",
                                {L"--lingua", L"de", L"--lingua", L""},
                                {},
                                false,
                                false,
                                std::nullopt,
                                L""},
                    OptionsCase{"flags_twice",
                                {L"--sem-janela", L"--sem-janela", L"--sem-executar"},
                                {},
                                true,
                                true,
                                std::nullopt,
                                L""},
                    OptionsCase{"log_value_may_look_like_option",
                                {L"--log", L"--url", L"--url", L"X"},
                                {L"X"},
                                false,
                                false,
                                L"--url",
                                L""},
                    OptionsCase{"trailing_log_ignored",
                                {L"--log", L"a.log", L"--log"},
                                {},
                                false,
                                false,
                                L"a.log",
                                L""},
                    OptionsCase{"strays_ignored",
                                {L"install", L"--url", L"U", L"-", L""},
                                {L"U"},
                                false,
                                false,
                                std::nullopt,
                                L""}),
    [](const testing::TestParamInfo<OptionsCase>& info) { return std::string(info.param.name); });

TEST(ParseOptions, TheLastInstaladorNamesTheFileAndOneWithoutAValueIsIgnored) {
    using Args = std::vector<std::wstring_view>;
    EXPECT_EQ(
        parseOptions(Args{L"--instalador", L"a.exe", L"--instalador", L"b.exe"}).localInstaller,
        L"b.exe");
    EXPECT_EQ(parseOptions(Args{L"--instalador", L"a.exe", L"--instalador"}).localInstaller,
              L"a.exe");
    EXPECT_EQ(parseOptions(Args{L"--instalador", L"--url", L"U"}).localInstaller, L"--url");
    EXPECT_EQ(parseOptions(Args{L"--url", L"U", L"--Instalador", L"a.exe"}).localInstaller, L"");
    // An empty --argumentos is one given: it passes no arguments at all.
    const CommandLineOptions given = parseOptions(
        Args{L"--argumentos", L"/a", L"--proxy", L"p:1", L"--argumentos", L"", L"--proxy"});
    EXPECT_EQ(given.installerArguments, L"");
    EXPECT_EQ(given.proxy, L"p:1");
    EXPECT_FALSE(parseOptions(Args{L"--Argumentos", L"/a"}).installerArguments);
}

TEST(RefusedOptionValue, ControlCharactersTheCommandLinesRoomAndHostPort) {
    constexpr std::size_t kPath = 120;
    const std::size_t room = kCommandLineLimit - kPath - 3; // the path in quotes, one space
    ASSERT_EQ(installerCommandLine(std::wstring(kPath, L'p'), std::wstring(room, L'a')).size(),
              kCommandLineLimit);
    // The option the refusal names, or "".
    const auto refused = [](std::optional<std::wstring> arguments,
                            std::optional<std::wstring> proxy) {
        CommandLineOptions options;
        options.installerArguments = std::move(arguments);
        options.proxy = std::move(proxy);
        const wchar_t* line = refusedOptionValue(options, kPath);
        return line ? std::wstring(line).substr(0, std::wstring(line).find(L' ')) : L"";
    };
    for (const std::wstring& usable : {std::wstring(), std::wstring(LR"(/q D="C:\P F\\" é)"),
                                       std::wstring(L"/q\u00A0x"), std::wstring(room, L'a')}) {
        EXPECT_EQ(refused(usable, {}), L"") << usable.size();
    }
    for (const std::wstring& unusable :
         {std::wstring(room + 1, L'a'), std::wstring(L"/q\tx"), std::wstring(L"\r\n"),
          std::wstring(L"\x1F"), std::wstring(L"\x7F"), std::wstring(L"\x85"),
          std::wstring(L"\x9F")}) {
        EXPECT_EQ(refused(unusable, {}), L"--argumentos") << unusable.size();
    }
    for (const wchar_t* usable : {L"proxy-1.corp.example:8080", L"a:1", L"a:65535",
                                  L"10.0.0.1:3128", L"[fe80::1:2]:3128", L"[::ffff:10.0.0.1]:80"}) {
        EXPECT_EQ(refused({}, usable), L"") << usable;
    }
    for (const wchar_t* unusable :
         {L"",          L"proxy",           L"proxy:",       L":8080",
          L"proxy:0",   L"proxy:65536",     L"proxy:008080", L"proxy:+80",
          L"proxy:80a", L"http://proxy:80", L"proxy:80/",    L"my_proxy:80",
          L"proxy :80", L"pr\u00F3xi:80",   L"::1:80",       L"[::1]",
          L"[]:80",     L"[proxy]:80",      L"[::1:80",      L"user:pw@proxy:80"}) {
        EXPECT_EQ(refused({}, unusable), L"--proxy") << unusable;
    }
    EXPECT_EQ(refused(L"\t", L"proxy"), L"--argumentos"); // the first one refused
}

} // namespace
