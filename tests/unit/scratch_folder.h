#pragma once
// A folder of one test in the temporary folder, with the log written into it. What an earlier
// run left in it (a run whose clean-up failed) goes first; when it goes, the log path is put
// back and the folder is removed with everything in it.

#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "tests/held_folder.h"

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
        removeContents(path_);
        logFile_ = file(logName);
        logPath = logFile_;
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        closeLog();
        logPath = savedLogPath_;
        removeContents(path_);
        RemoveDirectoryW(path_.c_str());
    }

    const std::wstring& path() const { return path_; }

    // The folder held as the program holds its working folder: the code under test opens its
    // files inside it.
    UniqueFile hold() const { return holdFolderAsTheProgramDoes(path_); }

    // A working folder made in this one and held in `job` as start-up holds one, with this one as
    // the temporary folder: what the clean-up then removes.
    void placeWorkFolder(SetupJob& job) const {
        job.tempFolder = path_ + L"\\";
        job.tempFolderHandle = hold();
        job.workFolder = file(L"Skyloom-Setup");
        CreateDirectoryW(job.workFolder.c_str(), nullptr);
        job.workFolderHandle = holdFolderAsTheProgramDoes(job.workFolder);
        job.installerPath = job.workFolder + L"\\Skyloom-win-Setup.exe";
    }
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
    // Files and folders, never through a link: a link goes itself.
    static void removeContents(const std::wstring& folder) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return;
        }
        do {
            const std::wstring name = found.cFileName;
            const std::wstring path = folder + L"\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            if (name == L"." || name == L"..") {
                continue;
            }
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileW(path.c_str());
                continue;
            }
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                removeContents(path);
            }
            RemoveDirectoryW(path.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }

    std::wstring savedLogPath_;
    std::wstring path_;
    std::wstring logFile_;
};
