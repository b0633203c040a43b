#pragma once
// A folder of one test in the temporary folder, with the log written into it. When it goes,
// the log path is put back and the folder is removed with every file in it.

#include "log/diagnostic_log.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::wstring& name, const std::wstring& logName = L"test.log")
        : savedLogPath_(logPath) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        path_ = std::wstring(temp) + name;
        CreateDirectoryW(path_.c_str(), nullptr);
        removeFiles();
        logFile_ = file(logName);
        logPath = logFile_;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        closeLog();
        logPath = savedLogPath_;
        removeFiles();
        RemoveDirectoryW(path_.c_str());
    }

    const std::wstring& path() const { return path_; }
    const std::wstring& logFile() const { return logFile_; }
    std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

    std::string logText() const {
        std::ifstream in(logFile_.c_str(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // The messages of the log, without their time stamps.
    std::vector<std::string> logMessages() const {
        const std::string text = logText();
        std::vector<std::string> lines;
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find("\r\n", start);
            // A last line without CR LF is kept whole, marked, so a comparison fails on it.
            const bool unended = end == std::string::npos;
            if (unended) {
                end = text.size();
            }
            const std::size_t from = std::min(start + kLogStampLength, end);
            lines.push_back(text.substr(from, end - from) + (unended ? "<no CR LF>" : ""));
            start = end + 2;
        }
        return lines;
    }

  private:
    void removeFiles() const {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW(file(L"*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return;
        }
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileW(file(found.cFileName).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }

    std::wstring savedLogPath_;
    std::wstring path_;
    std::wstring logFile_;
};
