#pragma once
// The time-stamped UTF-8 log: one append-only write per line, so the lines of two threads or
// two processes never mix inside a line. This process's threads take turns; other processes
// are kept apart by a byte-range lock.

#include "log/log_line.h"

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// Set before the first line and left alone afterwards.
extern std::wstring logPath;

// How long one line waits for the lock that keeps the writers of all processes apart before it
// goes without, and how long the lines after it then go without trying.
inline constexpr DWORD kLogLockWaitMs = 500;
inline constexpr DWORD kLogLockGiveUpMs = 10'000;

void logLine(const wchar_t* format, ...);

// formatLogLine with the fields of a SYSTEMTIME.
std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const SYSTEMTIME& time,
                          const wchar_t* format, va_list args);
