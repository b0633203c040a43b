#pragma once
// The time-stamped UTF-8 log: one append-only write per line, so the lines of two threads or
// two processes never mix inside a line.

#include "log/log_line.h"

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <string>

// Set before the first line and left alone afterwards.
extern std::wstring logPath;

// How long one line waits for the lock that keeps writers apart before it goes without.
inline constexpr DWORD kLogLockWaitMs = 500;

void logLine(const wchar_t* format, ...);

// formatLogLine with the fields of a SYSTEMTIME.
std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const SYSTEMTIME& time,
                          const wchar_t* format, va_list args);
