#pragma once
// The time-stamped UTF-8 log: one append-only write per line, so the lines of two threads or
// two processes never mix inside a line. This process's threads take turns; other processes
// are kept apart by a byte-range lock.

#include "log/log_file.h"
#include "log/log_line.h"

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// The path of the log file. A line written after it changed opens the new path.
extern std::wstring logPath;

// How long one line waits for the lock that keeps the writers of all processes apart before it
// goes without, and how long the lines after it then go without trying.
inline constexpr DWORD kLogLockWaitMs = 500;
inline constexpr DWORD kLogLockGiveUpMs = 10'000;

void logLine(const wchar_t* format, ...);

// Makes the file at `place` the log, opened now under `rules` and kept for every later line (a
// held folder of the place must stay open as long). Returns the error of the open (the lines are
// then lost, as with any log that cannot be opened), else 0 with the verdict: a refused file is
// not written.
[[nodiscard]] DWORD openLogWith(const LogPlace& place, const LogFileRules& rules,
                                LogFileVerdict& verdict);

// Makes an open file the log: the fresh one made after a refusal. An empty path and no file:
// no log at all, and no path for the failure dialog to name.
void useLogFile(UniqueFile file, const std::wstring& path);

// Lets go of the log file, so that it can be deleted; the next line opens logPath again.
void closeLog();

// formatLogLine with the fields of a SYSTEMTIME.
std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const SYSTEMTIME& time,
                          const wchar_t* format, va_list args);
