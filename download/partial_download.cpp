#include "download/partial_download.h"

#include "base/file_security.h"
#include "base/open_in_folder.h"
#include "base/wide_format.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

namespace {

// Read sharing only, both files: nobody writes them while this process has them open.
DWORD openPlainRetried(HANDLE folder, const std::wstring& path, DWORD access, ULONG disposition,
                       UniqueFile& file) {
    return retryWhileHeld(HeldThing::File, path.c_str(), [&] {
        return openPlainFileIn(folder, leafOf(path), access, FILE_SHARE_READ, disposition, file);
    });
}

DWORD deletePlainRetried(HANDLE folder, const std::wstring& path) {
    const DWORD error = retryWhileHeld(HeldThing::File, path.c_str(),
                                       [&] { return deletePlainFileIn(folder, leafOf(path)); });
    return isGone(error) ? DWORD{0} : error;
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

DWORD dropValidators(HANDLE folder, const wchar_t* installerPath) {
    return deletePlainRetried(folder, pathBesideInstaller(installerPath, kValidatorExtension));
}

bool truncateToEmpty(HANDLE file) {
    LARGE_INTEGER zero{};
    // The pointer stays at 0, the new end, so later writes append.
    return SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool storeValidators(HANDLE folder, const wchar_t* installerPath, HINTERNET request,
                     const ReleaseValidators& validators) {
    if (!hasValidators(validators)) {
        (void)dropValidators(folder, installerPath);
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
    const std::wstring path = pathBesideInstaller(installerPath, kValidatorExtension);
    UniqueFile file;
    DWORD error = openPlainRetried(folder, path, GENERIC_WRITE, kOpenOrCreate, file);
    if (error == 0) {
        error = writeWhole(file.get(), text, length);
    }
    if (error == 0) {
        return true;
    }
    file.reset();
    logLine(L"nao consegui guardar os validadores (%lu)", error);
    (void)dropValidators(folder, installerPath);
    return false;
}

ReleaseValidators loadValidators(HANDLE folder, const wchar_t* installerPath) {
    const std::wstring path = pathBesideInstaller(installerPath, kValidatorExtension);
    UniqueFile file;
    if (const DWORD opened = openPlainRetried(folder, path, GENERIC_READ, kOpenExisting, file);
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

std::wstring pathBesideInstaller(std::wstring_view installerPath, std::wstring_view extension) {
    std::wstring path(installerPath);
    if (path.ends_with(L".exe")) {
        path.resize(path.size() - 4);
    }
    return path += extension;
}

DWORD openPartialDownload(HANDLE folder, const wchar_t* installerPath, UniqueFile& file) {
    return openPlainRetried(folder, installerPath, GENERIC_READ | GENERIC_WRITE, kOpenOrCreate,
                            file);
}

FilePosition partialDownloadPosition(HANDLE folder, const wchar_t* installerPath, HANDLE file) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        size.QuadPart = 0;
    }
    const LARGE_INTEGER zero{};
    (void)SetFilePointerEx(file, zero, nullptr, FILE_END);
    FilePosition position{size.QuadPart, 0, {}};
    if (position.resumeOffset > 0) {
        position.validators = loadValidators(folder, installerPath);
    } else {
        (void)dropValidators(folder, installerPath);
    }
    return position;
}

DWORD emptyPartialDownload(const PartialDownloadIo& io, HANDLE folder, const wchar_t* installerPath,
                           HANDLE file) {
    if (!io.truncate(file)) {
        return GetLastError();
    }
    (void)io.dropValidators(folder, installerPath);
    return 0;
}

DWORD openCopy(HANDLE folder, const wchar_t* installerPath, UniqueFile& copy) {
    DWORD error = openPlainRetried(folder, pathBesideInstaller(installerPath, kCopyExtension),
                                   GENERIC_READ | GENERIC_WRITE | DELETE, kOpenOrCreate, copy);
    if (error == 0 && !truncateToEmpty(copy.get())) {
        error = GetLastError();
        copy.reset();
    }
    return error;
}

DWORD commitCopy(const PartialDownloadIo& io, HANDLE folder, const wchar_t* installerPath,
                 HANDLE copy) {
    (void)io.dropValidators(folder, installerPath);
    // A scanner may still hold what the download left under the name.
    return retryWhileHeld(HeldThing::File, installerPath,
                          [&] { return renameInFolder(copy, folder, leafOf(installerPath)); });
}

DWORD discardPartialDownload(HANDLE folder, const wchar_t* installerPath) {
    const DWORD error = deletePlainRetried(folder, installerPath);
    if (failureNeedsItsOwnLine(error)) {
        logLine(L"nao consegui apagar %s (%lu)", installerPath, error);
    }
    if (error != 0) {
        return error;
    }
    (void)dropValidators(folder, installerPath);
    (void)deletePlainRetried(folder, pathBesideInstaller(installerPath, kCopyExtension));
    return 0;
}
