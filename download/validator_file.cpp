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
DWORD writeWhole(HANDLE file, const std::string& text) {
    LARGE_INTEGER zero{};
    DWORD written = 0;
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file) ||
        !WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return GetLastError();
    }
    return written == text.size() ? DWORD{0} : DWORD{ERROR_WRITE_FAULT};
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
    std::string bytes(kMaxValidatorFileBytes + 1, '\0');
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(read);
    file.reset();
    ParsedValidators parsed = parseValidatorFile(bytes);
    if (parsed.verdict != ValidatorFileVerdict::Usable) {
        logLine(L"validadores inutilizaveis (%s): sem eles", validatorFileProblem(parsed.verdict));
        (void)dropValidators(installerPath);
        return {};
    }
    const ReleaseValidators& kept = parsed.kept;
    logLine(L"validadores de %s: %lld bytes, ETag [%s], Last-Modified [%s]", kept.url.c_str(),
            kept.total, kept.etag.c_str(), kept.lastModified.c_str());
    return parsed.kept;
}

bool storeValidators(const wchar_t* installerPath, HINTERNET request, ReleaseValidators& kept) {
    if (!hasValidators(kept)) {
        (void)dropValidators(installerPath);
        return true;
    }
    wchar_t url[kMaxValidatorUrlLength + 1] = {};
    DWORD urlBytes = sizeof url;
    if (WinHttpQueryOption(request, WINHTTP_OPTION_URL, url, &urlBytes)) {
        kept.url = keptFromAnswer(kept.total, L"", L"", L"", url).url;
    }
    const std::wstring path = validatorPathFor(installerPath);
    UniqueFile file;
    DWORD error = openValidatorFile(path, GENERIC_WRITE, OPEN_ALWAYS, file);
    if (error == 0) {
        error = writeWhole(file.get(), formatValidatorFile(kept));
    }
    if (error == 0) {
        return true;
    }
    file.reset();
    logLine(L"nao consegui guardar os validadores (%lu)", error);
    (void)dropValidators(installerPath);
    kept = {};
    return false;
}

DWORD dropValidators(const wchar_t* installerPath) {
    const std::wstring path = validatorPathFor(installerPath);
    const DWORD error = retryWhileHeld(HeldThing::File, path.c_str(),
                                       [&path] { return deletePlainFile(path.c_str()); });
    return gone(error) ? DWORD{0} : error;
}

void addIfRange(HINTERNET request, const ReleaseValidators& kept) {
    const std::wstring value(ifRangeValue(kept));
    if (value.empty()) {
        return;
    }
    wchar_t header[kIfRangeHeaderCapacity];
    formatWide(header, L"If-Range: %s", value.c_str());
    (void)WinHttpAddRequestHeaders(request, header, static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_ADD);
}
