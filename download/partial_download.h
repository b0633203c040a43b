#pragma once
// The installer file while it is fetched or copied, and beside it the validators of the release
// its bytes belong to ("Skyloom-win-Setup.validadores", with the If-Range they prove): the two
// live and die together, and only this unit reaches the validator file. Both are opened as
// plain files: never through a link, never with a second name.

#include "base/handles.h"
#include "download/file_position.h"

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <string_view>

inline constexpr std::wstring_view kValidatorExtension = L".validadores";
// A full installer at hand is copied under this name and takes the installer's only once it is
// whole: a copy cut short (a killed run) never passes for the head of a download.
inline constexpr std::wstring_view kCopyExtension = L".copia";

// The installer's path with `extension` in place of ".exe".
[[nodiscard]] std::wstring pathBesideInstaller(std::wstring_view installerPath,
                                               std::wstring_view extension);

// Every function below works inside the working folder that `folder` holds, by the last step of
// `installerPath` (the path names the file in the log, and for CreateProcess and the version
// read, which need one).

// The writes on the validator file and the emptying of the installer file, so that a unit test
// can stand in for them.
struct PartialDownloadIo {
    // Removes the validator file, waiting a moment while someone holds it; 0 when it went or
    // was not there.
    DWORD (*dropValidators)(HANDLE folder, const wchar_t* installerPath);
    // Empties the file and leaves its pointer at 0; false with the thread's last error set.
    bool (*truncate)(HANDLE file);
    // Replaces the validator file with `validators` and the URL the request ended up at, or
    // removes it when there are none. False, logged, when it could not be written whole: the
    // file is then removed, so that no older one speaks for the new bytes.
    bool (*storeValidators)(HANDLE folder, const wchar_t* installerPath, HINTERNET request,
                            const ReleaseValidators& validators);
};

extern const PartialDownloadIo kPartialDownloadIo;

// Opens the installer file, creating it if need be, for reading and writing with read sharing
// only: others may look at it, nobody may write or delete it meanwhile. What an earlier run left
// is kept for a resume. A scanner may still hold it for a moment: waited for. 0 or the error.
[[nodiscard]] DWORD openPartialDownload(HANDLE folder, const wchar_t* installerPath,
                                        UniqueFile& file);

// Where the open file stands: its length, with its pointer moved to its end, and the validators
// kept for its bytes. Only bytes on disk have a release: beside an empty file a validator file
// is removed; one that cannot be used counts as none, with a log line.
[[nodiscard]] FilePosition partialDownloadPosition(HANDLE folder, const wchar_t* installerPath,
                                                   HANDLE file);

// Empties the file, then removes its validators: left beside the emptied file they would speak
// for the next release's bytes, and gone beside a file that could not be emptied they would
// leave its bytes to a blind resume. 0, or the error that kept the file from being emptied.
[[nodiscard]] DWORD emptyPartialDownload(const PartialDownloadIo& io, HANDLE folder,
                                         const wchar_t* installerPath, HANDLE file);

// The copy's file, opened empty for writing and renaming: what a copy cut short left goes.
[[nodiscard]] DWORD openCopy(HANDLE folder, const wchar_t* installerPath, UniqueFile& copy);

// The whole copy takes the installer's name, in place of what a download left there, whose
// validators go with it.
[[nodiscard]] DWORD commitCopy(const PartialDownloadIo& io, HANDLE folder,
                               const wchar_t* installerPath, HANDLE copy);

// Deletes the installer file through a handle of its own, waiting a moment while someone holds
// it, and once it is gone its validators and a copy cut short; a failure that is not a hold
// already logged gets its own line. Returns the installer file's error, 0 when it went or was not
// there.
DWORD discardPartialDownload(HANDLE folder, const wchar_t* installerPath);
