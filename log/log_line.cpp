#include "log/log_line.h"

#include "base/wide_format.h"

std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const LogTime& time,
                          const wchar_t* format, va_list args) {
    std::size_t length =
        formatWide(line, L"%04u-%02u-%02u %02u:%02u:%02u.%03u  ", unsigned{time.year},
                   unsigned{time.month}, unsigned{time.day}, unsigned{time.hour},
                   unsigned{time.minute}, unsigned{time.second}, unsigned{time.milliseconds});
    // Keep room for CR LF and the terminator, so a long message never swallows the line end.
    constexpr std::size_t kLineEnd = 2;
    length += formatWideV(line + length, kLogLineCapacity - length - kLineEnd, format, args);
    line[length++] = L'\r';
    line[length++] = L'\n';
    line[length] = L'\0';
    return length;
}
