#include "app/options.h"

CommandLineOptions parseOptions(const std::vector<std::wstring_view>& args) {
    CommandLineOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring_view arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == L"--url") {
            if (hasValue) {
                options.urls.emplace_back(args[++i]);
            }
        } else if (arg == L"--sem-janela") {
            options.noWindow = true;
        } else if (arg == L"--sem-executar") {
            options.noRun = true;
        } else if (arg == L"--log") {
            if (hasValue) {
                options.logPath = std::wstring(args[++i]);
            }
        } else if (arg == L"--lingua") {
            if (hasValue) {
                options.languageRequest = args[++i];
            }
        } else if (arg == L"--instalador") {
            if (hasValue) {
                options.localInstaller = args[++i];
            }
        }
        // Anything else is ignored without a word.
    }
    return options;
}
