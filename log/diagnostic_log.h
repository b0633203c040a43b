#pragma once
// The time-stamped UTF-8 log: one append-only write per line, so the lines of two threads or
// two processes never mix inside a line.

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <string>

inline constexpr std::size_t kLogLineCapacity = 2048;
inline constexpr std::size_t kLogUtf8Capacity = 6144;
// "yyyy-mm-dd hh:mm:ss.mmm" and two spaces.
inline constexpr std::size_t kLogStampLength = 25;

// Set before the first line and left alone afterwards.
extern std::wstring logPath;

void logLine(const wchar_t* format, ...);

// Builds time stamp, message and CR LF into the line buffer. A message too long for the line
// is cut so that the line still ends with CR LF. Returns the line's length in code units.
std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const SYSTEMTIME& time,
                          const wchar_t* format, va_list args);
