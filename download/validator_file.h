#pragma once
// The small file that keeps the release's validators beside the installer file
// ("Skyloom-win-Setup.validadores"), and the If-Range header that sends them back. It is
// opened as the installer file is: never through a link, never with a second name.

#include "download/release_validators.h"

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <string_view>

inline constexpr std::wstring_view kValidatorExtension = L".validadores";

// The installer's path with ".validadores" in place of ".exe".
[[nodiscard]] std::wstring validatorPathFor(std::wstring_view installerPath);

// What is kept for the installer file. None when there is no file; a file that cannot be used
// counts as none, with a log line, and is removed.
[[nodiscard]] ReleaseValidators loadValidators(const wchar_t* installerPath);

// Replaces the file with `kept` and the URL the request ended up at, or removes it when
// nothing is kept. False, logged, when it could not be written whole: the file is then
// removed, so that no older one speaks for the new bytes.
[[nodiscard]] bool storeValidators(const wchar_t* installerPath, HINTERNET request,
                                   const ReleaseValidators& kept);

// Removes the file, waiting a moment while someone holds it; 0 when it went or was not there.
DWORD dropValidators(const wchar_t* installerPath);

// "If-Range" with the strong ETag or the Last-Modified kept, when they prove the release.
void addIfRange(HINTERNET request, const ReleaseValidators& kept);
