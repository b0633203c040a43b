#pragma once
// The log file is opened once per process and kept. A name in a folder others may write to
// (C:\Windows\Temp for SYSTEM without SystemTemp, and for elevated runs; the folder of a --log
// of theirs) may have been made first by anyone: as a link, so that every line lands in a file
// of their choosing, or as a plain file of their own, whose owner could read every line (the
// installer's command line, with whatever a deployment puts in --argumentos) and forge others.
// Such a file is not written. There an existing file is first looked at with an open that asks
// only for its attributes, which breaks no opportunistic lock of the stranger's; its owner is read
// on an open that does not wait for a lock it breaks; every open of the name goes so
// (FILE_COMPLETE_IF_OPLOCKED), and one that meets a lock gives the name up. Only a file of the
// trusted set's is then opened for appending, and checked again on that handle. A log SYSTEM or
// an elevated run creates is readable by the trusted set alone.

#include "base/file_security.h"
#include "base/handles.h"

#include <windows.h>

#include <string>
#include <string_view>

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
    // Others may have made the name first: looked at before it is opened for data, and opened
    // without waiting on a lock.
    bool lookFirst = false;
    // An existing file must have an owner in the trusted set.
    bool ownerMustBeTrusted = false;
    // A file the open creates gets a DACL for the trusted set alone (base/file_security.h).
    bool protectNewFile = false;
    TrustedSet trusted;
};

enum class LogFileVerdict { Use, Link, SecondName, Elsewhere, ForeignOwner };

// Where the log file is opened: by name inside a folder held open (the default log in the
// temporary folder; the --log of SYSTEM or an elevated run in its checked folder), or by its path
// (a user's --log, and a log path set later). `path` names it in either case.
struct LogPlace {
    HANDLE folder = INVALID_HANDLE_VALUE;
    std::wstring path;
};

// The default log's: its final path must be the temporary folder's (when that can be read) and
// the name. In a temporary folder others may write to it is looked at first, and an existing file
// must be owned by the trusted set, unless the volume keeps no owners at all (aclsKept false):
// there every file is the world's, and the log of the last run would never be used again.
[[nodiscard]] LogFileRules defaultLogRules(const std::wstring& tempFinalPath, bool tempOpenToOthers,
                                           bool aclsKept, const TrustedSet& trusted);

// A SYSTEM's or an elevated run's --log, in its held folder: looked at first, and on a local
// volume an existing file must be owned by the trusted set (log shares are owned by machine
// accounts). A user's own --log is the user's choice, under no rule beyond the file's own.
[[nodiscard]] LogFileRules privilegedLogRules(bool localVolume, const TrustedSet& trusted);

// Whether the open found the file there already, from the error CreateFileW left after
// OPEN_ALWAYS.
[[nodiscard]] constexpr bool openFoundFile(DWORD errorAfterOpen) {
    return errorAfterOpen == ERROR_ALREADY_EXISTS;
}

// What follows a look at the name that asks for no data: nothing there, so make it new (and a
// name made meanwhile by someone else gives way too); a file that passes, so open it for
// appending and check it again; anything else gives way to a fresh file, the stranger's never
// opened for data.
enum class LogLookStep { Create, Open, GiveWay };
[[nodiscard]] LogLookStep afterLookingAtLog(DWORD lookError, LogFileVerdict verdict);

// Why a log asked for is not used, for the line after the run header; `why` is "" when it is.
struct LogRefusal {
    std::wstring path;
    wchar_t why[64] = {};
};

// Why the log start-up asked for gives way to a fresh one, "" when it is used: "nao se abre
// (<error>)" when it cannot be opened, else the verdict's words.
void logRefusalReason(DWORD openError, LogFileVerdict verdict, wchar_t (&why)[64]);

// A name surrogate (symbolic link, junction, mount point) is refused; other reparse points, such
// as a cloud file's placeholder, are files like any other.
[[nodiscard]] LogFileVerdict judgeLogFile(const LogFileFacts& facts, const LogFileRules& rules);

// Why a log file is not written, for the line that names the one used instead.
[[nodiscard]] const wchar_t* logFileRefusal(LogFileVerdict verdict);

// Opens (creating it if need be) the log file without following a link at its name, and judges
// it; with rules.ownerMustBeTrusted an existing file is looked at first. 0 with the file in
// `file` and the verdict; a refused file is closed again. Otherwise the error of the open.
[[nodiscard]] DWORD openLogFile(const LogPlace& place, const LogFileRules& rules, UniqueFile& file,
                                LogFileVerdict& verdict);

// A new Skyloom-Setup-<random>.log beside `refused` (in its held folder, else in the folder of
// its path), never an existing name, made as `rules` make a new file: 0 with the file and its
// path.
[[nodiscard]] DWORD openFreshLogFile(const LogPlace& refused, const LogFileRules& rules,
                                     UniqueFile& file, std::wstring& path);

// Why the folder of such a --log path is not used, "" when it is: "a pasta nao se abre
// (<error>)", or what its place is.
void logFolderRefusal(DWORD error, FolderPlace place, wchar_t (&why)[64]);

// The folder of a --log path that SYSTEM or an elevated run writes, opened and held as the
// working folder is, without waiting on a lock: it must be no link and lie where its path says
// (base/file_security.h). On a local volume that is its whole path, made full and long
// (GetFullPathNameW, GetLongPathNameW: 8.3 names are no difference), so that no link lies
// anywhere on it; on a share, a root and its parent's final path and its name. No owner or DACL
// rule: folders an administrator makes under C:\ and ProgramData let users write, and a share
// every computer may write to stays usable. 0 with the folder held when it passes (and
// `localVolume` said), else the error, or ERROR_ACCESS_DENIED with the refusal in `place`.
[[nodiscard]] DWORD holdLogFolder(const std::wstring& logPath, UniqueFile& folder,
                                  FolderPlace& place, bool& localVolume);

// What a local --log folder's final path must be: `longPath` (GetLongPathNameW's, without the
// name) as GetFinalPathNameByHandleW writes it, "\\?\" first.
[[nodiscard]] std::wstring expectedFinalPathOf(const std::wstring& longPath);
