#pragma once
// The log file is opened once per process and kept. A name in a folder others may write to
// (C:\Windows\Temp for SYSTEM without SystemTemp) may have been made first by anyone: as a link,
// so that every line lands in a file of their choosing, or as a plain file of their own, whose
// owner could read every line and forge others. Such a file is not written: the log goes to a
// fresh file beside it instead.

#include "base/handles.h"

#include <windows.h>

#include <string>

inline constexpr const wchar_t* kLogFileName = L"Skyloom-Setup.log";

// What the open handle says of the file.
struct LogFileFacts {
    DWORD attributes = 0;
    DWORD reparseTag = 0; // FileAttributeTagInfo: what kind of reparse point, if any
    DWORD links = 1;
    std::wstring finalPath;
    bool existed = false; // the open found the file there already
    bool ownerTrusted = true;
};

// What a log file must be, beyond a file of its own with one name.
struct LogFileRules {
    // The final path the file must have (the temporary folder's final path and the name); empty
    // for a path the user gave.
    std::wstring expectedFinalPath;
    // An existing file must have an owner in the trusted set: its folder is one others may write
    // to.
    bool ownerMustBeTrusted = false;
    PSID trustedUser = nullptr; // besides SYSTEM and the Administrators
};

enum class LogFileVerdict { Use, Link, SecondName, Elsewhere, ForeignOwner };

// The rules for the log start-up opens. Only the default name lies where others may have made
// it first: its final path must be the temporary folder's (when that can be read) and the name,
// and in a temporary folder others may write to an existing file must be owned by the trusted
// set. A --log path is the user's own choice, and log shares are owned by machine accounts.
[[nodiscard]] LogFileRules logRulesFor(bool defaultPath, const std::wstring& tempFinalPath,
                                       bool tempOpenToOthers, PSID trustedUser);

// Whether the open found the file there already, from the error CreateFileW left after
// OPEN_ALWAYS.
[[nodiscard]] constexpr bool openFoundFile(DWORD errorAfterOpen) {
    return errorAfterOpen == ERROR_ALREADY_EXISTS;
}

// Why the log start-up asked for gives way to a fresh one, "" when it is used: "nao se abre
// (<error>)" when it cannot be opened, else the verdict's words.
[[nodiscard]] std::wstring logRefusalReason(DWORD openError, LogFileVerdict verdict);

// A name surrogate (symbolic link, junction, mount point) is refused; other reparse points, such
// as a cloud file's placeholder, are files like any other.
[[nodiscard]] LogFileVerdict judgeLogFile(const LogFileFacts& facts, const LogFileRules& rules);

// Why a log file is not written, for the line that names the one used instead.
[[nodiscard]] const wchar_t* logFileRefusal(LogFileVerdict verdict);

// Opens (creating it if need be) the log file without following a link at its name, and judges
// it. 0 with the file in `file` and the verdict; a refused file is closed again. Otherwise the
// error of the open.
[[nodiscard]] DWORD openLogFile(const std::wstring& path, const LogFileRules& rules,
                                UniqueFile& file, LogFileVerdict& verdict);

// A new Skyloom-Setup-<random>.log in the folder of `refusedPath`, never an existing name: 0
// with the file and its path.
[[nodiscard]] DWORD openFreshLogFile(const std::wstring& refusedPath, UniqueFile& file,
                                     std::wstring& path);
