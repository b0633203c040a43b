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

// The file the lines go to, kept from its first line to the end of the process. Only touched
// with threadsLock held.
struct OpenLog {
    LogPlace place;
    LogFileRules rules;
    UniqueFile file;
};
OpenLog openLog;

// The file for the next line: the one kept, or logPath opened afresh when it is another path or
// its last open failed (a folder that did not exist yet).
HANDLE logFileForLine() {
    if (openLog.place.path != logPath) {
        openLog.place = {INVALID_HANDLE_VALUE, logPath};
        openLog.rules = {};
        openLog.file.reset();
    }
    if (!openLog.file && !openLog.place.path.empty()) {
        LogFileVerdict verdict = LogFileVerdict::Use;
        (void)openLogFile(openLog.place, openLog.rules, openLog.file, verdict);
    }
    return openLog.file.get();
}

// One line: lock across processes, append, unlock.
void writeLine(const char* utf8, DWORD bytes) {
    const HANDLE file = logFileForLine();
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    // Windows makes each append atomic, but not every file system that emulates append does
    // (Wine computes the end and then writes, so two writers can land on the same offset). An
    // exclusive lock on one byte far past any real end serialises the writers of all processes.
    // If it cannot be taken the line is written all the same.
    OVERLAPPED lockRange{};
    lockRange.Offset = 0xFFFFFFF0;
    lockRange.OffsetHigh = 0x7FFFFFFF;
    const bool locked = lockForOneLine(file, lockRange);
    DWORD written = 0;
    (void)WriteFile(file, utf8, bytes, &written, nullptr);
    if (locked) {
        (void)UnlockFileEx(file, 0, 1, 0, &lockRange);
    }
}

} // namespace

std::size_t formatLogLine(wchar_t (&line)[kLogLineCapacity], const SYSTEMTIME& time,
                          const wchar_t* format, va_list args) {
    const LogTime fields{time.wYear,   time.wMonth,  time.wDay,         time.wHour,
                         time.wMinute, time.wSecond, time.wMilliseconds};
    return formatLogLine(line, fields, format, args);
}

DWORD openLogWith(const LogPlace& place, const LogFileRules& rules, LogFileVerdict& verdict) {
    AcquireSRWLockExclusive(&threadsLock);
    logPath = place.path;
    openLog.place = place;
    openLog.rules = rules;
    const DWORD error = openLogFile(place, rules, openLog.file, verdict);
    ReleaseSRWLockExclusive(&threadsLock);
    return error;
}

void useLogFile(UniqueFile file, const std::wstring& path) {
    AcquireSRWLockExclusive(&threadsLock);
    logPath = path;
    openLog.place = {INVALID_HANDLE_VALUE, path};
    openLog.rules = {};
    openLog.file = std::move(file);
    ReleaseSRWLockExclusive(&threadsLock);
}

void closeLog() {
    AcquireSRWLockExclusive(&threadsLock);
    openLog = {};
    ReleaseSRWLockExclusive(&threadsLock);
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
