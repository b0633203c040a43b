#include "ui/proxy_prompt.h"

#include "job/setup_job.h"
#include "platform/system_library.h"
#include "ui/message_catalog.h"

void keepUserAsTyped(wchar_t* user, std::wstring_view target) {
    const std::wstring_view name(user);
    if (name.size() > target.size() && name.starts_with(target) && name[target.size()] == L'\\') {
        // Forward, overlapping, the terminating null included.
        const std::size_t cut = target.size() + 1;
        for (std::size_t i = cut; i <= name.size(); ++i) {
            user[i - cut] = user[i];
        }
    }
}

void promptForProxy(HWND owner, SetupJob& job) {
    ProxySignIn& signIn = job.proxySignIn;
    ProxyPrompt state = ProxyPrompt::Asked;
    if (!signIn.prompt.compare_exchange_strong(state, ProxyPrompt::Showing)) {
        return;
    }
    // Looked up, not imported: one more DLL the program needs only here.
    using PromptFunction = DWORD(WINAPI*)(PCREDUI_INFOW, PCWSTR, PCtxtHandle, DWORD, PWSTR, ULONG,
                                          PWSTR, ULONG, BOOL*, DWORD);
    DWORD error = ERROR_SUCCESS;
    const HMODULE credui = loadSystemLibrary(L"credui.dll", error);
    const PromptFunction prompt =
        credui != nullptr ? procAddress<PromptFunction>(credui, "CredUIPromptForCredentialsW")
                          : nullptr;
    CREDUI_INFOW info{sizeof info, owner, nullptr, job.catalog->productName, nullptr};
    ProxyCredentials& answer = signIn.sealed;
    // What was kept was refused, or there was nothing: the new answer takes its place.
    wipeProxyCredentials(answer);
    BOOL save = FALSE;
    // Generic: on Windows the user name comes back as typed, without the target before it.
    const DWORD flags = CREDUI_FLAGS_GENERIC_CREDENTIALS | CREDUI_FLAGS_DO_NOT_PERSIST |
                        CREDUI_FLAGS_EXCLUDE_CERTIFICATES | CREDUI_FLAGS_ALWAYS_SHOW_UI |
                        (signIn.refused ? CREDUI_FLAGS_INCORRECT_PASSWORD : 0);
    const wchar_t* target = job.proxy.empty() ? L"proxy" : job.proxy.c_str();
    const bool answered =
        prompt != nullptr &&
        prompt(&info, target, nullptr, 0, answer.user, CREDUI_MAX_USERNAME_LENGTH + 1,
               answer.password, CREDUI_MAX_PASSWORD_LENGTH + 1, &save, flags) == NO_ERROR;
    if (answered) {
        keepUserAsTyped(answer.user, target);
    }
    signIn.kept = answered && sealProxyCredentials(answer);
    if (!signIn.kept) {
        wipeProxyCredentials(answer);
    }
    signIn.prompt.store(signIn.kept ? ProxyPrompt::Answered : ProxyPrompt::Closed);
}
