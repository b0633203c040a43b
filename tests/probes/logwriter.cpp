// logwriter PATH TAG COUNT LENGTH
// Writes COUNT lines "TAG i xxxx..." (LENGTH letters "x", "é" when TAG starts with "U")
// to PATH through the product's logLine.

#include "log/diagnostic_log.h"

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        return 2;
    }
    logPath = argv[1];
    const std::wstring tag = argv[2];
    const int count = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    const std::wstring body(std::wcstoul(argv[4], nullptr, 10), tag[0] == L'U' ? L'\u00e9' : L'x');
    for (int i = 0; i < count; ++i) {
        logLine(L"%s %d %s", tag.c_str(), i, body.c_str());
    }
    return 0;
}
