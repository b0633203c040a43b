#include "download/validator_file.h"

#include "base/handles.h"
#include "base/wide_format.h"
#include "log/diagnostic_log.h"
#include "platform/held_retry.h"
#include "platform/plain_file.h"

namespace {

bool gone(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

DWORD openValidatorFile(const std::wstring& path, DWORD access, DWORD disposition,
                        UniqueFile& file) {
    return retryWhileHeld(HeldThing::File, path.c_str(), [&] {
        return openPlainFile(path.c_str(), access, FILE_SHARE_READ, disposition, file);
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

} // namespace

std::wstring validatorPathFor(std::wstring_view installerPath) {
    std::wstring path(installerPath);
    if (path.ends_with(L".exe")) {
        path.resize(path.size() - 4);
    }
    return path += kValidatorExtension;
}

ReleaseValidators loadValidators(const wchar_t* installerPath) {
    const std::wstring path = validatorPathFor(installerPath);
    UniqueFile file;
    if (const DWORD opened = openValidatorFile(path, GENERIC_READ, OPEN_EXISTING, file);
        opened != 0) {
        if (!gone(opened)) {
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
        logLine(L"validadores inutilizaveis (%s)", validatorFileProblem(parsed.verdict));
        (void)dropValidators(installerPath);
        return {};
    }
    // The URL is printable ASCII, at most its room.
    wchar_t url[kMaxValidatorUrlLength + 1] = {};
    for (std::size_t i = 0; i < parsed.url.size(); ++i) {
        url[i] = static_cast<wchar_t>(parsed.url[i]);
    }
    const ReleaseValidators& kept = parsed.kept;
    logLine(L"validadores de %s: %lld bytes, ETag [%s], Last-Modified [%s]", url, kept.total,
            kept.etag, kept.lastModified);
    return kept;
}

bool storeValidators(const wchar_t* installerPath, HINTERNET request,
                     const ReleaseValidators& kept) {
    if (!hasValidators(kept)) {
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
    const std::size_t length = formatValidatorFile(kept, url, text);
    const std::wstring path = validatorPathFor(installerPath);
    UniqueFile file;
    DWORD error = openValidatorFile(path, GENERIC_WRITE, OPEN_ALWAYS, file);
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

DWORD dropValidators(const wchar_t* installerPath) {
    const std::wstring path = validatorPathFor(installerPath);
    const DWORD error = retryWhileHeld(HeldThing::File, path.c_str(),
                                       [&path] { return deletePlainFile(path.c_str()); });
    return gone(error) ? DWORD{0} : error;
}

void addIfRange(HINTERNET request, const ReleaseValidators& kept) {
    // The value is one of the record's own terminated buffers, or empty.
    const std::wstring_view value = ifRangeValue(kept);
    if (value.empty()) {
        return;
    }
    wchar_t header[kIfRangeHeaderCapacity];
    formatWide(header, L"If-Range: %s", value.data());
    (void)WinHttpAddRequestHeaders(request, header, static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_ADD);
}
