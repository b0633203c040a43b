#include "log/diagnostic_log.h"

#include "base/handles.h"

#include <atomic>

std::wstring logPath;

namespace {

// This process's own threads always write one at a time, whatever the other processes do.
SRWLOCK threadsLock = SRWLOCK_INIT;

// Until this tick the cross-process lock is not tried: another process that holds the range
// for a long time costs one wait now and then, not one per line.
std::atomic<ULONGLONG> lockGivenUpUntil{0};

// Polled rather than waited for: a blocking LockFileEx waits for ever while another process
// holds the range, and under Wine a contested lock never completes at all.
[[nodiscard]] bool lockForOneLine(HANDLE file, OVERLAPPED& range) {
    const ULONGLONG now = GetTickCount64();
    if (now < lockGivenUpUntil.load()) {
        return false;
    }
    const ULONGLONG deadline = now + kLogLockWaitMs;
    for (;;) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &range)) {
            return true;
        }
        // Anything but another holder (a file system without locks): this line goes without.
        if (GetLastError() != ERROR_LOCK_VIOLATION) {
            return false;
        }
        if (const ULONGLONG tick = GetTickCount64(); tick >= deadline) {
            lockGivenUpUntil.store(tick + kLogLockGiveUpMs);
            return false;
        }
        Sleep(1);
    }
}

// One line: open, lock across processes, append, unlock, close.
void writeLine(const char* utf8, DWORD bytes) {
    // Append access only: every write lands at the then current end of the file. Read access
    // is there only for the byte-range lock below, which needs read or write data access.
    UniqueFile file(CreateFileW(logPath.c_str(), FILE_APPEND_DATA | FILE_READ_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    // Windows makes each append atomic, but not every file system that emulates append does
    // (Wine computes the end and then writes, so two writers can land on the same offset). An
    // exclusive lock on one byte far past any real end serialises the writers of all threads
    // and processes. If it cannot be taken the line is written all the same.
    OVERLAPPED lockRange{};
    lockRange.Offset = 0xFFFFFFF0;
    lockRange.OffsetHigh = 0x7FFFFFFF;
    const bool locked = lockForOneLine(file.get(), lockRange);
    DWORD written = 0;
    (void)WriteFile(file.get(), utf8, bytes, &written, nullptr);
    if (locked) {
        (void)UnlockFileEx(file.get(), 0, 1, 0, &lockRange);
    }
}

} // namespace

std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const SYSTEMTIME& time,
                          const wchar_t* format, va_list args) {
    const LogTime fields{time.wYear,   time.wMonth,  time.wDay,         time.wHour,
                         time.wMinute, time.wSecond, time.wMilliseconds};
    return formatLogLine(line, fields, format, args);
}

void logLine(const wchar_t* format, ...) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t line[kLogLineCapacity];
    va_list args;
    va_start(args, format);
    const std::size_t length = formatLogLine(line, now, format, args);
    va_end(args);

    char utf8[kLogUtf8Capacity];
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(length), utf8,
                                          static_cast<int>(sizeof utf8), nullptr, nullptr);
    if (bytes < 1) {
        return;
    }
    AcquireSRWLockExclusive(&threadsLock);
    writeLine(utf8, static_cast<DWORD>(bytes));
    ReleaseSRWLockExclusive(&threadsLock);
}
