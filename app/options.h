#pragma once
// The command line: eight options, matched whole and case-sensitively, and whether their values
// can be used.

#include <cstddef>
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
    // The last --argumentos: the installer's arguments in place of the build's quiet ones; an
    // empty value passes none.
    std::optional<std::wstring> installerArguments;
    std::optional<std::wstring> proxy; // the last --proxy: host:port, for every URL
};

// args: the arguments after the program's own path.
CommandLineOptions parseOptions(const std::vector<std::wstring_view>& args);

// The longest command line CreateProcessW takes, without its terminating NUL.
inline constexpr std::size_t kCommandLineLimit = 32766;

// The log's line for the first option value that cannot be used, null when all can. A proxy is
// a host of letters, digits, dots and hyphens or an IPv6 address in brackets, a colon, and a
// port of 1 to 65535.
// installerPathLength: the longest path the installer may be started from; its command line is
// that path in double quotes, then one space and the arguments when there are any
// (installerCommandLine).
[[nodiscard]] const wchar_t* refusedOptionValue(const CommandLineOptions& options,
                                                std::size_t installerPathLength);
