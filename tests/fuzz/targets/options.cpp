// The command line: any arguments, option names among them, give options whose values all
// come from the arguments, in order, each right after the option that took it.

#include "app/options.h"
#include "fuzz_support.h"

#include <array>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    static constexpr std::array<const wchar_t*, 11> kNames = {
        L"--url", L"--sem-janela", L"--sem-executar", L"--log",  L"--lingua", L"--URL", L"--url=",
        L"",      L"--instalador", L"--argumentos",   L"--proxy"};
    std::vector<std::wstring> owned;
    while (data.remaining_bytes() > 0 && owned.size() < 64) {
        if (data.ConsumeBool()) {
            owned.emplace_back(kNames[data.ConsumeIntegralInRange<std::size_t>(0, 10)]);
        } else {
            owned.push_back(utf16Units(data, data.ConsumeIntegralInRange<std::size_t>(0, 40)));
        }
    }
    const std::vector<std::wstring_view> args(owned.begin(), owned.end());
    const CommandLineOptions options = parseOptions(args);

    // Every URL is the argument after a "--url", in command-line order.
    std::size_t from = 0;
    for (const std::wstring& url : options.urls) {
        bool found = false;
        for (std::size_t i = from; i + 1 < args.size(); ++i) {
            if (args[i] == L"--url" && args[i + 1] == url) {
                from = i + 2;
                found = true;
                break;
            }
        }
        FUZZ_CHECK(found);
    }
    auto present = [&](const wchar_t* name) {
        for (std::wstring_view a : args) {
            if (a == name) {
                return true;
            }
        }
        return false;
    };
    FUZZ_CHECK(!options.noWindow || present(L"--sem-janela"));
    FUZZ_CHECK(!options.noRun || present(L"--sem-executar"));
    FUZZ_CHECK(!options.logPath || present(L"--log"));
    FUZZ_CHECK(options.languageRequest.empty() || present(L"--lingua"));
    FUZZ_CHECK(options.localInstaller.empty() || present(L"--instalador"));
    FUZZ_CHECK(!options.installerArguments || present(L"--argumentos"));
    FUZZ_CHECK(!options.proxy || present(L"--proxy"));
    (void)refusedOptionValue(options, 32700); // under the sanitizers, near the line's limit
    return 0;
}
