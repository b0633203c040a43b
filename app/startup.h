#pragma once
// Start-up: hardening, temporary folder, options, run header, single instance, working folder.

#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct SetupJob;

inline constexpr const wchar_t* kSetupVersion = L"1.0";
inline constexpr const wchar_t* kSingleInstanceMutexName = L"Local\\Quorvane-Skyloom-Setup";
inline constexpr const wchar_t* kTempFolderFallback = L"C:\\Windows\\Temp\\";
inline constexpr const wchar_t* kWorkFolderName = L"Skyloom-Setup";
inline constexpr const wchar_t* kInstallerFileName = L"\\Skyloom-win-Setup.exe";
inline constexpr const wchar_t* kLogFileName = L"Skyloom-Setup.log";
inline constexpr DWORD kTempFolderBufferSize = 261;

extern const std::array<const wchar_t*, 2> kBuiltInUrls;

void hardenProcess();

// GetTempPathW returns the length written, or the size it would need when the buffer is too
// small (then nothing was written), or 0 on failure: only a length that fits is a folder.
std::wstring chooseTempFolder(DWORD returned, const wchar_t* buffer);

std::wstring findTempFolder();

// Fills the job from the command line and prepares the working folder. Returns the exit code
// when the process must end here (another instance, no working folder), nothing otherwise.
[[nodiscard]] std::optional<int> prepareJob(SetupJob& job, HINSTANCE instance,
                                            const std::wstring& tempFolder,
                                            const std::vector<std::wstring_view>& args);

void loadDialogIcons(SetupJob& job, HINSTANCE instance);
