// A stand-in for the real installer. When SKYLOOM_TEST_REPORT names a file it writes there,
// as UTF-8 key=value lines, how it was started and what it may do with its own file; then it
// exits with the code in SKYLOOM_TEST_EXIT_CODE (decimal, a full 32-bit value; 0 without it),
// or, when SKYLOOM_TEST_EXIT_ONCE names a file, only while that file is not there yet (the first
// start makes it; later ones exit with 0). A variant that carries RCDATA 101 (a decimal number
// of milliseconds) first starts a copy of itself, outside its folder, that lingers that long in
// the current folder after this process has ended, as an installed application started by a
// real installer would; then it writes a file into its TEMP and, with SKYLOOM_TEST_REPORT, tells
// how that went in the report's name + ".child". Built as a console program the same source
// starts at wmain. SKYLOOM_TEST_COPY_TO names where it copies itself.

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring environmentValue(const wchar_t* name) {
    wchar_t value[32768] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 32768);
    return length > 0 && length < 32768 ? std::wstring(value, length) : std::wstring();
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

void writeFile(const std::wstring& path, const std::string& text) {
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(out);
    }
}

std::wstring outcome(BOOL ok, DWORD error) {
    return ok ? L"1" : L"0 " + std::to_wstring(error);
}

// SKYLOOM_TEST_INHERITED_HANDLE names the value of a handle that a process up the chain opened
// as inheritable on a file called inherited-marker.txt: "present" when this process has it.
std::wstring inheritedHandle() {
    const std::wstring value = environmentValue(L"SKYLOOM_TEST_INHERITED_HANDLE");
    if (value.empty()) {
        return L"unknown";
    }
    HANDLE handle =
        reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoull(value.c_str(), nullptr, 10)));
    DWORD flags = 0;
    wchar_t name[MAX_PATH] = {};
    if (GetHandleInformation(handle, &flags) && GetFileType(handle) == FILE_TYPE_DISK &&
        GetFinalPathNameByHandleW(handle, name, MAX_PATH, 0) > 0 &&
        std::wstring(name).find(L"inherited-marker.txt") != std::wstring::npos) {
        return L"present";
    }
    return L"absent";
}

std::wstring selfReport() {
    std::wstring text;
    text += L"command_line=" + std::wstring(GetCommandLineW()) + L"\n";
    wchar_t buffer[32768] = {};
    GetCurrentDirectoryW(32768, buffer);
    text += L"current_directory=" + std::wstring(buffer) + L"\n";
    GetModuleFileNameW(nullptr, buffer, 32768);
    const std::wstring self = buffer;
    text += L"own_path=" + self + L"\n";
    text += L"temp=" + environmentValue(L"TEMP") + L"\n";

    HANDLE writer = CreateFileW(self.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD error = GetLastError();
    text += L"open_for_write=" + outcome(writer != INVALID_HANDLE_VALUE, error) + L"\n";
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    }

    const std::wstring sibling = self + L".moved";
    const BOOL moved = MoveFileW(self.c_str(), sibling.c_str());
    error = GetLastError();
    text += L"rename=" + outcome(moved, error) + L"\n";
    if (moved) {
        MoveFileW(sibling.c_str(), self.c_str());
    }

    const BOOL deleted = DeleteFileW(self.c_str());
    error = GetLastError();
    text += L"delete=" + outcome(deleted, error) + L"\n";
    text += L"inherited_handle=" + inheritedHandle() + L"\n";
    return text;
}

// The lingering time built into this variant, 0 when there is none.
DWORD childLingerMs() {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found != nullptr ? LoadResource(nullptr, found) : nullptr;
    const char* text = loaded != nullptr ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (text == nullptr) {
        return 0;
    }
    const std::string digits(text, SizeofResource(nullptr, found));
    return static_cast<DWORD>(std::strtoul(digits.c_str(), nullptr, 10));
}

// A copy in the temporary folder (or the folder SKYLOOM_TEST_CHILD_FOLDER names), so the
// installer file itself stays free to be deleted; it inherits the current folder and no handles.
void startLingeringChild(DWORD milliseconds) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = environmentValue(L"SKYLOOM_TEST_CHILD_FOLDER");
    if (folder.empty()) {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder = temp;
    }
    const std::wstring copy =
        folder + L"\\skyloom-test-child-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    if (!CopyFileW(self, copy.c_str(), FALSE)) {
        return;
    }
    // The child says when it stands in its folder: until then it could not hold it.
    const std::wstring readyName =
        L"Local\\skyloom-test-child-" + std::to_wstring(GetCurrentProcessId());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
    std::wstring commandLine = L"\"" + copy + L"\" --linger " + std::to_wstring(milliseconds) +
                               L" " + std::to_wstring(GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(copy.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (ready != nullptr) {
            WaitForSingleObject(ready, 10000);
        }
    }
    if (ready != nullptr) {
        CloseHandle(ready);
    }
}

int run() {
    // The lingering child: waits in the folder it was started in, then writes into its TEMP.
    const std::wstring commandLine = GetCommandLineW();
    if (const std::size_t at = commandLine.find(L" --linger "); at != std::wstring::npos) {
        wchar_t* rest = nullptr;
        const DWORD milliseconds = std::wcstoul(commandLine.c_str() + at + 10, &rest, 10);
        const std::wstring parent = std::to_wstring(std::wcstoul(rest, nullptr, 10));
        HANDLE ready =
            OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"Local\\skyloom-test-child-" + parent).c_str());
        if (ready != nullptr) {
            SetEvent(ready);
            CloseHandle(ready);
        }
        Sleep(milliseconds);
        const std::wstring temp = environmentValue(L"TEMP");
        HANDLE written = CreateFileW((temp + L"\\child-wrote-later.txt").c_str(), GENERIC_WRITE, 0,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        const std::wstring text =
            L"temp=" + temp + L"\nwrite=" + outcome(written != INVALID_HANDLE_VALUE, error) + L"\n";
        if (written != INVALID_HANDLE_VALUE) {
            CloseHandle(written);
        }
        if (const std::wstring report = environmentValue(L"SKYLOOM_TEST_REPORT"); !report.empty()) {
            writeFile(report + L".child", utf8(text));
        }
        return 0;
    }
    if (const DWORD linger = childLingerMs(); linger > 0) {
        startLingeringChild(linger);
    }
    // A copy of the very file that was started, for a byte-for-byte comparison with the origin
    // after the bootstrapper has deleted it.
    if (const std::wstring copyTo = environmentValue(L"SKYLOOM_TEST_COPY_TO"); !copyTo.empty()) {
        wchar_t self[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        CopyFileW(self, copyTo.c_str(), FALSE);
    }
    const std::wstring reportPath = environmentValue(L"SKYLOOM_TEST_REPORT");
    if (!reportPath.empty()) {
        writeFile(reportPath, utf8(selfReport()));
    }
    if (const std::wstring once = environmentValue(L"SKYLOOM_TEST_EXIT_ONCE"); !once.empty()) {
        if (GetFileAttributesW(once.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return 0;
        }
        writeFile(once, "started");
    }
    const std::wstring code = environmentValue(L"SKYLOOM_TEST_EXIT_CODE");
    return static_cast<int>(std::wcstoul(code.c_str(), nullptr, 10));
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return run();
}

int wmain() {
    return run();
}
