// The one piece of the native build that stands in for the platform: the truncating wide
// formatter, with the Windows CRT's reading of the program's formats. There "%s" and "%c"
// take wide arguments and "l" before an integer conversion means 32 bits; glibc reads "%s"
// as a narrow string and "%lu" as 64 bits, so the format is translated first.

#include "base/wide_format.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring glibcFormat(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out += *p;
        if (*p != L'%') {
            continue;
        }
        if (p[1] == L'%') {
            out += *++p;
            continue;
        }
        // Flags, width and precision pass unchanged.
        while (p[1] != L'\0' && std::wcschr(L"-+ #0123456789.*", p[1]) != nullptr) {
            out += *++p;
        }
        if (p[1] == L'l' && p[2] == L'l') {
            out += *++p;
            out += *++p;
        } else if (p[1] == L'l' && p[2] != L'\0' && std::wcschr(L"diuoxX", p[2]) != nullptr) {
            ++p; // long is 32 bits on Windows: the argument is an int
        } else if (p[1] == L's' || p[1] == L'c') {
            out += L'l';
        }
    }
    return out;
}

} // namespace

int truncatingWideFormat(wchar_t* buffer, std::size_t capacity, const wchar_t* format,
                         va_list args) {
    const std::wstring translated = glibcFormat(format);
    std::vector<wchar_t> whole(capacity + 64);
    for (;;) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vswprintf(whole.data(), whole.size(), translated.c_str(), copy);
        va_end(copy);
        if (n >= 0) {
            const std::size_t kept =
                static_cast<std::size_t>(n) < capacity ? static_cast<std::size_t>(n) : capacity - 1;
            std::wmemcpy(buffer, whole.data(), kept);
            buffer[kept] = L'\0';
            return static_cast<std::size_t>(n) < capacity ? n : -1;
        }
        // glibc reports a text too long for the room only as -1: try again with more room.
        if (whole.size() > (std::size_t{1} << 24)) {
            buffer[0] = L'\0';
            return -1;
        }
        whole.resize(whole.size() * 4);
    }
}
