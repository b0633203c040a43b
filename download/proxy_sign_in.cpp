#include "download/proxy_sign_in.h"

#include "job/setup_job.h"
#include "download/retry_policy.h"
#include "log/diagnostic_log.h"

static_assert(kSchemeBasic == WINHTTP_AUTH_SCHEME_BASIC &&
              kSchemeNtlm == WINHTTP_AUTH_SCHEME_NTLM &&
              kSchemeDigest == WINHTTP_AUTH_SCHEME_DIGEST &&
              kSchemeNegotiate == WINHTTP_AUTH_SCHEME_NEGOTIATE &&
              kTargetProxy == WINHTTP_AUTH_TARGET_PROXY);

namespace {

// The progress dialog's timer takes the request up; the dialog's end closes it, so a worker
// never waits on a dialog that has gone.
ProxyPrompt askThePerson(SetupJob& job) {
    std::atomic<ProxyPrompt>& prompt = job.proxySignIn.prompt;
    ProxyPrompt state = ProxyPrompt::Idle;
    if (!prompt.compare_exchange_strong(state, ProxyPrompt::Asked)) {
        return state;
    }
    while ((state = prompt.load()) == ProxyPrompt::Asked || state == ProxyPrompt::Showing) {
        if (job.cancelRequested.load()) {
            return ProxyPrompt::Closed;
        }
        Sleep(kPauseSliceMs);
    }
    if (state == ProxyPrompt::Answered) {
        prompt.compare_exchange_strong(state, ProxyPrompt::Idle);
    }
    return state;
}

void logAnswer(ProxyStep step, const wchar_t* who) {
    logLine(L"autenticacao no proxy: %s, %s", proxySchemeName(step.scheme), who);
}

// One answer set on the request; false when it could not be, and the next one is tried.
bool apply(const ProxySignInIo& io, SetupJob& job, HINTERNET request, ProxyStep step,
           ProxyTries& tried) {
    ProxySignIn& signIn = job.proxySignIn;
    switch (step.answer) {
    case ProxyAnswer::None:
        return false;
    case ProxyAnswer::Account: {
        tried.account = true;
        logAnswer(step, L"pela conta");
        // The logon goes out only under a relaxed policy, and this request alone has it, from
        // its own 407 on.
        DWORD low = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        return io.setOption(request, WINHTTP_OPTION_AUTOLOGON_POLICY, &low, sizeof low) &&
               io.setCredentials(request, WINHTTP_AUTH_TARGET_PROXY, step.scheme, nullptr, nullptr,
                                 nullptr);
    }
    case ProxyAnswer::Person:
        ++signIn.prompts;
        signIn.refused = tried.kept;
        if (io.ask(job) != ProxyPrompt::Answered) {
            logLine(L"quem instala nao se autenticou no proxy");
            return false;
        }
        [[fallthrough]];
    case ProxyAnswer::Kept: {
        tried.kept = true;
        logAnswer(step, L"por quem instala");
        ProxyCredentials open;
        const bool set = signIn.kept && openProxyCredentials(signIn.sealed, open) &&
                         io.setCredentials(request, WINHTTP_AUTH_TARGET_PROXY, step.scheme,
                                           open.user, open.password, nullptr);
        wipeProxyCredentials(open);
        return set;
    }
    }
    return false;
}

} // namespace

const ProxySignInIo kProxySignInIo{WinHttpQueryAuthSchemes, WinHttpSetOption, WinHttpSetCredentials,
                                   askThePerson};

bool answerProxy(SetupJob& job, HINTERNET request, ProxyTries& tried) {
    return answerProxyWith(kProxySignInIo, job, request, tried);
}

bool answerProxyWith(const ProxySignInIo& io, SetupJob& job, HINTERNET request, ProxyTries& tried) {
    DWORD offered = 0;
    DWORD first = 0;
    DWORD target = 0;
    if (!io.queryAuthSchemes(request, &offered, &first, &target)) {
        return false;
    }
    ProxySignIn& signIn = job.proxySignIn;
    for (;;) {
        const ProxyStep step =
            proxyStep(offered, target, tried, signIn.kept,
                      signIn.prompt.load() != ProxyPrompt::Closed, signIn.prompts);
        if (step.answer == ProxyAnswer::None) {
            return false;
        }
        if (apply(io, job, request, step, tried)) {
            return true;
        }
        // A prompt cancelled, or an answer that could not be set, ends the answers here.
        if (step.answer == ProxyAnswer::Person) {
            return false;
        }
    }
}
