#pragma once
// The command line: six options, matched whole and case-sensitively.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct CommandLineOptions {
    std::vector<std::wstring> urls; // in command-line order; empty when no --url was given
    bool noWindow = false;
    bool noRun = false;
    std::optional<std::wstring> logPath; // the last --log
    std::wstring languageRequest;        // the last --lingua
    std::wstring localInstaller;         // the last --instalador: copied instead of downloaded
};

// args: the arguments after the program's own path.
CommandLineOptions parseOptions(const std::vector<std::wstring_view>& args);
