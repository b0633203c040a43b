#include "ui/failure_dialog.h"

#include "job/setup_job.h"
#include "log/diagnostic_log.h"
#include "ui/failure_text.h"
#include "ui/full_installer_link.h"
#include "ui/message_catalog.h"
#include "ui/progress_dialog.h"

#include <commctrl.h>

int showFailureDialog(SetupJob& job, bool allowRetry) {
    const TaskDialogIndirectFunction taskDialog = findTaskDialog();
    if (taskDialog == nullptr) {
        return kFailureDialogNotShown;
    }
    const MessageCatalog& catalog = *job.catalog;
    FailureTexts texts;
    buildFailureTexts(catalog,
                      FailureFacts{toInt(job.result), job.detail, job.retryMinutes,
                                   job.neededMegabytes, job.secureFailureFlags.load(),
                                   job.serverFileChanged, job.addressAsText},
                      logPath.c_str(), texts);

    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = nullptr;
    config.hInstance = nullptr;
    config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION;
    // The link to the full installer needs the flag and the callback; an elevated run has none.
    if (!job.addressAsText) {
        config.dwFlags |= TDF_ENABLE_HYPERLINKS;
        config.pfCallback = failureDialogCallback;
    }
    config.dwCommonButtons =
        allowRetry ? TDCBF_RETRY_BUTTON | TDCBF_CLOSE_BUTTON : TDCBF_CLOSE_BUTTON;
    config.pszWindowTitle = catalog.productName;
    config.pszMainIcon = failureIsWarning(toInt(job.result)) ? TD_WARNING_ICON : TD_ERROR_ICON;
    config.pszMainInstruction = catalog.failureHeading;
    config.pszContent = texts.content;
    config.nDefaultButton = allowRetry ? IDRETRY : IDCLOSE;
    config.pszExpandedInformation = texts.details;
    config.pszCollapsedControlText = catalog.showDetailsLabel;
    config.pszExpandedControlText = catalog.hideDetailsLabel;
    config.cxWidth = kDialogWidth;
    int button = IDCLOSE;
    if (FAILED(taskDialog(&config, &button, nullptr, nullptr))) {
        return kFailureDialogNotShown;
    }
    return button;
}
