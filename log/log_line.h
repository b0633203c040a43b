#pragma once
// One log line in memory: time stamp, message and CR LF, cut to a fixed room. No system
// header, so the cut can be exercised on any platform.

#include <cstdarg>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kLogLineCapacity = 2048;
inline constexpr std::size_t kLogUtf8Capacity = 6144;
// "yyyy-mm-dd hh:mm:ss.mmm" and two spaces.
inline constexpr std::size_t kLogStampLength = 25;

// The local time fields the stamp shows.
struct LogTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
};

// Builds time stamp, message and CR LF into the line buffer. A message too long for the line
// is cut so that the line still ends with CR LF. Returns the line's length in code units.
std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const LogTime& time,
                          const wchar_t* format, va_list args);
