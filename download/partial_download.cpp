#include "download/partial_download.h"

#include "base/wide_format.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

namespace {

// Read sharing only, both files: nobody writes them while this process has them open.
DWORD openPlainRetried(const wchar_t* path, DWORD access, DWORD disposition, UniqueFile& file) {
    return retryWhileHeld(HeldThing::File, path, [&] {
        return openPlainFile(path, access, FILE_SHARE_READ, disposition, file);
    });
}

// Empties the file and writes the text whole; 0 or the system error.
DWORD writeWhole(HANDLE file, const char* text, std::size_t length) {
    LARGE_INTEGER zero{};
    DWORD written = 0;
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr)) {
        return GetLastError();
    }
    return written == length ? DWORD{0} : DWORD{ERROR_WRITE_FAULT};
}

DWORD dropValidators(const wchar_t* installerPath) {
    const std::wstring path = validatorPathFor(installerPath);
    const DWORD error = retryWhileHeld(HeldThing::File, path.c_str(),
                                       [&path] { return deletePlainFile(path.c_str()); });
    return isGone(error) ? DWORD{0} : error;
}

bool truncateToEmpty(HANDLE file) {
    LARGE_INTEGER zero{};
    // The pointer stays at 0, the new end, so later writes append.
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool storeValidators(const wchar_t* installerPath, HINTERNET request,
                     const ReleaseValidators& validators) {
    if (!hasValidators(validators)) {
        (void)dropValidators(installerPath);
        return true;
    }
    // Where the request ended up after redirects; too long a URL is left out, and so is any
    // under Wine 8, whose WinHTTP does not answer this option (87).
    wchar_t url[kMaxValidatorUrlLength + 1] = {};
    DWORD urlBytes = sizeof url;
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_URL, url, &urlBytes)) {
        url[0] = L'\0';
    }
    char text[kMaxValidatorFileBytes];
    const std::size_t length = formatValidatorFile(validators, url, text);
    const std::wstring path = validatorPathFor(installerPath);
    UniqueFile file;
    DWORD error = openPlainRetried(path.c_str(), GENERIC_WRITE, OPEN_ALWAYS, file);
    if (error == 0) {
        error = writeWhole(file.get(), text, length);
    }
    if (error == 0) {
        return true;
    }
    file.reset();
    logLine(L"nao consegui guardar os validadores (%lu)", error);
    (void)dropValidators(installerPath);
    return false;
}

ReleaseValidators loadValidators(const wchar_t* installerPath) {
    const std::wstring path = validatorPathFor(installerPath);
    UniqueFile file;
    if (const DWORD opened = openPlainRetried(path.c_str(), GENERIC_READ, OPEN_EXISTING, file);
        opened != 0) {
        if (!isGone(opened)) {
            logLine(L"nao uso os validadores: %s (%lu)", path.c_str(), opened);
        }
        return {};
    }
    // One byte more than a usable file may hold tells a file that is too long.
    char bytes[kMaxValidatorFileBytes + 1];
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes, sizeof bytes, &read, nullptr)) {
        read = 0;
    }
    file.reset();
    const ParsedValidators parsed = parseValidatorFile({bytes, read});
    if (parsed.verdict != ValidatorFileVerdict::Usable) {
        // Left where it is (a later build's format, say): it goes with the installer file, and
        // an answer taken whole writes over it.
        logLine(L"validadores inutilizaveis (%s)", validatorFileProblem(parsed.verdict));
        return {};
    }
    // The URL is printable ASCII, at most its room.
    wchar_t url[kMaxValidatorUrlLength + 1] = {};
    for (std::size_t i = 0; i < parsed.url.size(); ++i) {
        url[i] = static_cast<wchar_t>(parsed.url[i]);
    }
    const ReleaseValidators& validators = parsed.validators;
    logLine(L"validadores de %s: %lld bytes, ETag [%s], Last-Modified [%s]", url, validators.total,
            validators.etag, validators.lastModified);
    return validators;
}

} // namespace

const PartialDownloadIo kPartialDownloadIo{dropValidators, truncateToEmpty, storeValidators};

std::wstring validatorPathFor(std::wstring_view installerPath) {
    std::wstring path(installerPath);
    if (path.ends_with(L".exe")) {
        path.resize(path.size() - 4);
    }
    return path += kValidatorExtension;
}

DWORD openPartialDownload(const wchar_t* installerPath, UniqueFile& file) {
    return openPlainRetried(installerPath, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, file);
}

FilePosition partialDownloadPosition(const wchar_t* installerPath, HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        size.QuadPart = 0;
    }
    const LARGE_INTEGER zero{};
    (void)SetFilePointerEx(file, zero, nullptr, FILE_END);
    FilePosition position{size.QuadPart, 0, {}};
    if (position.resumeOffset > 0) {
        position.validators = loadValidators(installerPath);
    } else {
        (void)dropValidators(installerPath);
    }
    return position;
}

DWORD emptyPartialDownload(const PartialDownloadIo& io, const wchar_t* installerPath, HANDLE file) {
    if (!io.truncate(file)) {
        return GetLastError();
    }
    (void)io.dropValidators(installerPath);
    return 0;
}

DWORD discardPartialDownload(const wchar_t* installerPath) {
    const DWORD error = retryWhileHeld(HeldThing::File, installerPath,
                                       [installerPath] { return deletePlainFile(installerPath); });
    if (failureNeedsItsOwnLine(error)) {
        logLine(L"nao consegui apagar %s (%lu)", installerPath, error);
    }
    if (error != 0 && !isGone(error)) {
        return error;
    }
    (void)dropValidators(installerPath);
    return 0;
}
