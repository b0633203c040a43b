#include "app/options.h"

namespace {

// C0, DEL and C1: a line break or an escape would reach the installer's parser and the log.
bool hasControlCharacter(std::wstring_view text) {
    for (const wchar_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            return true;
        }
    }
    return false;
}

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

bool isHexDigit(wchar_t c) {
    return isDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool isNameCharacter(wchar_t c) {
    return isDigit(c) || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c == L'.' ||
           c == L'-';
}

bool allOf(std::wstring_view text, bool (*allowed)(wchar_t)) {
    for (const wchar_t c : text) {
        if (!allowed(c)) {
            return false;
        }
    }
    return true;
}

bool portUsable(std::wstring_view port) {
    if (port.empty() || port.size() > 5 || !allOf(port, isDigit)) {
        return false;
    }
    unsigned value = 0;
    for (const wchar_t c : port) {
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return value >= 1 && value <= 65535;
}

bool hostUsable(std::wstring_view host) {
    if (host.size() >= 2 && host.front() == L'[' && host.back() == L']') {
        const std::wstring_view address(host.data() + 1, host.size() - 2);
        return address.find(L':') != std::wstring_view::npos &&
               allOf(address, [](wchar_t c) { return isHexDigit(c) || c == L':' || c == L'.'; });
    }
    return !host.empty() && allOf(host, isNameCharacter);
}

bool proxyUsable(std::wstring_view value) {
    // No substr: the shipped runtime has no std::out_of_range.
    const std::size_t colon = value.rfind(L':');
    return colon != std::wstring_view::npos && hostUsable(std::wstring_view(value.data(), colon)) &&
           portUsable(std::wstring_view(value.data() + colon + 1, value.size() - colon - 1));
}

} // namespace

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
        } else if (arg == L"--argumentos") {
            if (hasValue) {
                options.installerArguments = std::wstring(args[++i]);
            }
        } else if (arg == L"--proxy") {
            if (hasValue) {
                options.proxy = std::wstring(args[++i]);
            }
        }
        // Anything else is ignored without a word.
    }
    return options;
}

const wchar_t* refusedOptionValue(const CommandLineOptions& options,
                                  std::size_t installerPathLength) {
    if (const std::optional<std::wstring>& arguments = options.installerArguments) {
        if (hasControlCharacter(*arguments)) {
            return L"--argumentos recusado: o valor tem um caracter de controlo";
        }
        const std::size_t length =
            installerPathLength + 2 + (arguments->empty() ? 0 : 1 + arguments->size());
        if (length > kCommandLineLimit) {
            return L"--argumentos recusado: a linha de comando do instalador passaria de 32766 "
                   L"caracteres";
        }
    }
    if (options.proxy && !proxyUsable(*options.proxy)) {
        return L"--proxy recusado: o valor nao e' host:porta (porta de 1 a 65535)";
    }
    return nullptr;
}
