#pragma once
#include "job/setup_job.h"
#include "job/setup_result.h"

#include <string>
#include <string_view>

// The installer's whole command line: its own path in double quotes, then the quiet arguments
// after one space when there are any.
[[nodiscard]] std::wstring installerCommandLine(const std::wstring& installerPath,
                                                std::wstring_view quietArgs);

// The installer's codes the process ends with as they are, and without a failure: 0, the two
// by which an installer reports success with a restart, 3010 (needed) and 1641 (started), and
// 1618, another installation in progress. Deployment tools read them as success, restart and
// try again later.
[[nodiscard]] bool installerCodePassedOn(std::uint32_t exitCode);

// Which temporary folder the installer gets, as TMP and TEMP both. Installers unpack DLLs and
// helpers there: a folder others may write to lets them plant one, so such a folder is replaced
// by a private one (app/installer_temp.h), as an elevated run's %SystemRoot%\Temp always is. A
// run for the whole machine whose own folder is not open to others (SYSTEM's SystemTemp alone)
// hands that folder on where TMP or TEMP as inherited name another, since SystemTemp is not the
// one its environment names. Anywhere else the environment stays as it is, and installer logs
// land where support staff look for them.
[[nodiscard]] InstallerTemp chooseInstallerTemp(bool machineWide, bool programTempIsInherited,
                                                bool programTempOpenToOthers);

// Starts the checked installer and waits for it without limit. Ok for a code passed on (in
// installerExitCode), InstallerFailed with the code in detail otherwise, LaunchFailed when it
// does not start.
[[nodiscard]] SetupResult launchInstaller(SetupJob& job);
