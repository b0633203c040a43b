#include "ui/progress_dialog.h"

#include "job/cancel.h"
#include "job/setup_job.h"
#include "platform/system_library.h"
#include "ui/message_catalog.h"
#include "ui/proxy_prompt.h"

static_assert(kWmSetIcon == WM_SETICON && kTdmClickButton == TDM_CLICK_BUTTON &&
              kTdmSetMarqueeProgressBar == TDM_SET_MARQUEE_PROGRESS_BAR &&
              kTdmSetProgressBarRange == TDM_SET_PROGRESS_BAR_RANGE &&
              kTdmSetProgressBarPos == TDM_SET_PROGRESS_BAR_POS &&
              kTdmSetProgressBarMarquee == TDM_SET_PROGRESS_BAR_MARQUEE &&
              kTdmSetElementText == TDM_SET_ELEMENT_TEXT &&
              kTdmUpdateElementText == TDM_UPDATE_ELEMENT_TEXT && kTdeContent == TDE_CONTENT &&
              kTdeMainInstruction == TDE_MAIN_INSTRUCTION && kIdCancel == IDCANCEL &&
              kProgressRangeParam == MAKELPARAM(0, kProgressScale));

ProgressFace progressFace;

namespace {

void sendToWindow(void* window, std::uint32_t message, std::uintptr_t wParam,
                  std::intptr_t lParam) {
    (void)SendMessageW(static_cast<HWND>(window), message, wParam, lParam);
}

void sendIcon(const MessageSink& sink, WPARAM which, HICON icon) {
    if (icon != nullptr) {
        sink.send(sink.context, WM_SETICON, which, reinterpret_cast<std::intptr_t>(icon));
    }
}

} // namespace

HRESULT progressDialogNotify(const MessageSink& sink, UINT notification, WPARAM wParam,
                             SetupJob& job) {
    switch (notification) {
    case TDN_CREATED:
        job.dialogCreated = true;
        sendIcon(sink, ICON_BIG, job.largeIcon);
        sendIcon(sink, ICON_SMALL, job.smallIcon);
        progressCreated(sink, progressFace);
        break;
    case TDN_BUTTON_CLICKED:
        // The dialog's own click after the final phase is no cancel.
        if (wParam == IDCANCEL && !job.dialogDone) {
            cancelWorker(job);
        }
        break;
    case TDN_TIMER: {
        // The worker's 407 asks for the prompt here: it belongs to this window and its thread.
        promptForProxy(static_cast<HWND>(sink.context), job);
        const JobPhase phase = job.phase.load();
        std::int64_t total = 0;
        std::int64_t downloaded = 0;
        if (phase == JobPhase::Downloading) {
            total = job.total.load();
            downloaded = job.downloaded.load();
        }
        if (progressTick(sink, progressFace, *job.catalog, phase, total, downloaded)) {
            job.dialogDone = true;
            sink.send(sink.context, TDM_CLICK_BUTTON, IDCANCEL, 0);
        }
        break;
    }
    default:
        break;
    }
    return S_OK;
}

HRESULT CALLBACK progressDialogCallback(HWND dialog, UINT notification, WPARAM wParam, LPARAM,
                                        LONG_PTR data) {
    const MessageSink sink{dialog, sendToWindow};
    return progressDialogNotify(sink, notification, wParam, *reinterpret_cast<SetupJob*>(data));
}

TaskDialogIndirectFunction findTaskDialog() {
    DWORD error = ERROR_SUCCESS;
    HMODULE commonControls = loadSystemLibrary(L"comctl32.dll", error);
    if (commonControls == nullptr) {
        return nullptr;
    }
    return procAddress<TaskDialogIndirectFunction>(commonControls, "TaskDialogIndirect");
}

namespace {

// Once the dialog has gone nobody answers a prompt: a worker that asks, or waits, gives up.
struct [[nodiscard]] PromptClosedAtEnd {
    SetupJob& job;
    explicit PromptClosedAtEnd(SetupJob& forJob) : job(forJob) {}
    PromptClosedAtEnd(const PromptClosedAtEnd&) = delete;
    ~PromptClosedAtEnd() { job.proxySignIn.prompt.store(ProxyPrompt::Closed); }
};

} // namespace

void showProgressDialog(SetupJob& job) {
    const PromptClosedAtEnd closed{job};
    // Not shown leaves dialogCreated false: the run loop then goes on without a window.
    const TaskDialogIndirectFunction taskDialog = findTaskDialog();
    if (taskDialog == nullptr) {
        return;
    }
    const MessageCatalog& catalog = *job.catalog;
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof config;
    config.hwndParent = nullptr;
    config.hInstance = GetModuleHandleW(nullptr);
    config.dwFlags = TDF_SHOW_MARQUEE_PROGRESS_BAR | TDF_CALLBACK_TIMER;
    if (job.largeIcon != nullptr) {
        config.dwFlags |= TDF_USE_HICON_MAIN;
    }
    config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
    config.pszWindowTitle = catalog.productName;
    config.hMainIcon = job.largeIcon;
    config.pszMainInstruction = catalog.connectingText;
    config.pszContent = L" ";
    config.pfCallback = progressDialogCallback;
    config.lpCallbackData = reinterpret_cast<LONG_PTR>(&job);
    config.cxWidth = kDialogWidth;
    int button = 0;
    // How the dialog ended is in dialogDone and dialogCreated.
    (void)taskDialog(&config, &button, nullptr, nullptr);
}
