#include "job/result_codes.h"

using enum SetupResult;

const std::array<ResultInfo, 17> kResultTable = {{
    {Ok, RetryClass::Finished, FailureMessage::NotShown, false},
    {Cancelled, RetryClass::Finished, FailureMessage::NotShown, false},
    {AlreadyRunning, RetryClass::Finished, FailureMessage::NotShown, false},
    {OptionRefused, RetryClass::Finished, FailureMessage::NotShown, false},
    {NetworkError, RetryClass::SameUrlAgain, FailureMessage::DownloadFailed, false},
    {ServerBusy, RetryClass::Finished, FailureMessage::ServerBusy, false},
    {UnexpectedStatus, RetryClass::NextUrl, FailureMessage::DownloadFailed, false},
    {UnexpectedSize, RetryClass::NextUrl, FailureMessage::InvalidInstaller, false},
    {TransferIncomplete, RetryClass::SameUrlAgain, FailureMessage::DownloadFailed, false},
    {UrlRefused, RetryClass::NextUrl, FailureMessage::DownloadFailed, false},
    {SignatureInvalid, RetryClass::NextUrl, FailureMessage::InvalidInstaller, true},
    {SignerMismatch, RetryClass::NextUrl, FailureMessage::InvalidInstaller, true},
    {VersionRejected, RetryClass::NextUrl, FailureMessage::InvalidInstaller, true},
    {NotEnoughSpace, RetryClass::Finished, FailureMessage::DiskSpace, false},
    {LaunchFailed, RetryClass::NextUrl, FailureMessage::Generic, false},
    {InstallerFailed, RetryClass::NextUrl, FailureMessage::InstallFailed, false},
    {LocalError, RetryClass::Finished, FailureMessage::Generic, false},
}};

const ResultInfo& resultInfo(SetupResult code) {
    for (const ResultInfo& info : kResultTable) {
        if (info.code == code) {
            return info;
        }
    }
    static constexpr ResultInfo kUnknown{LocalError, RetryClass::NextUrl, FailureMessage::Generic,
                                         false};
    return kUnknown;
}
