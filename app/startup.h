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
inline constexpr const wchar_t* kInstallerFileName = L"\\Skyloom-win-Setup.exe";
inline constexpr DWORD kTempFolderBufferSize = 261;

extern const std::array<const wchar_t*, 2> kBuiltInUrls;

void hardenProcess();

struct TokenFacts;

// SYSTEM and elevated runs refuse junctions that non-administrators made, wherever a path
// passes through one.
[[nodiscard]] bool wantsRedirectionGuard(const TokenFacts& token);

// GetTempPath2W and GetTempPathW return the length written, or the size they would need when
// the buffer is too small (then nothing was written), or 0 on failure: only a length that fits
// is a folder.
std::wstring chooseTempFolder(DWORD returned, const wchar_t* buffer);

// GetTempPath2W where kernel32 has it, so that SYSTEM gets its own folder (C:\Windows\SystemTemp)
// instead of C:\Windows\Temp, where every user may create folders; else GetTempPathW.
std::wstring findTempFolder();

// The length of the installer's path in the longest working folder the run may get: a fresh
// one. An --argumentos value is checked against it before the folder is made.
[[nodiscard]] std::size_t longestInstallerPath(const std::wstring& tempFolder);

// Fills the job from the command line and prepares the working folder. Returns the exit code
// when the process must end here (another instance, no working folder), nothing otherwise.
[[nodiscard]] std::optional<int> prepareJob(SetupJob& job, HINSTANCE instance,
                                            const std::wstring& tempFolder,
                                            const std::vector<std::wstring_view>& args);

void loadDialogIcons(SetupJob& job, HINSTANCE instance);
