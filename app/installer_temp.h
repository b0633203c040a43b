#pragma once
// The installer's own temporary folder, where the program's temporary folder is open to others.
// Installers unpack DLLs and helpers into TEMP: in a folder others may write to, one could be
// planted. And what an installer starts at its end (the installed application) inherits that
// TEMP and may write in it long after the run has ended, so the folder is never removed under
// it: it is one fixed folder beside the working folder, under the working folder's rules
// (app/work_folder.h), kept from run to run. What is left in it goes at a later launch once it
// is a day old and nobody holds it open, as the system's own cleaners treat a TEMP.

#include <windows.h>

#include <cstdint>

struct SetupJob;

inline constexpr const wchar_t* kInstallerTempName = L"Skyloom-Setup-TEMP";
inline constexpr std::int64_t kInstallerTempAgeSeconds = 24 * 3600;

// The kept folder, made or checked, cleared and held in the job. Cleared: what was last written
// over kInstallerTempAgeSeconds ago goes, a folder's content before the folder, each entry opened
// without following a link and deleted through an open that shares nothing, so that a link goes
// as itself, never entered, and a file or folder anyone holds open (a running application's, a
// process's current folder) stays; one line counts what went. When the fixed name is not the
// program's own, a fresh folder serves the run, and the clean-up removes it if it is empty. 0,
// or the error of a folder that could not be had.
[[nodiscard]] DWORD holdInstallerTemp(SetupJob& job);
