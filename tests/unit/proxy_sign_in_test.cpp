// The answer to a proxy's 407 with WinHTTP and the person stood in for: what each request gets.

#include "job/setup_job.h"
#include "download/proxy_sign_in.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD offered = 0;
DWORD target = WINHTTP_AUTH_TARGET_PROXY;
int asked = 0;
std::wstring calls; // "REQUEST:policy OPTION=VALUE;", "REQUEST:TARGET SCHEME USER PASSWORD;"

std::wstring on(HINTERNET request) {
    return std::to_wstring(reinterpret_cast<std::uintptr_t>(request)) + L":";
}

BOOL WINAPI query(HINTERNET, LPDWORD schemes, LPDWORD, LPDWORD to) {
    *schemes = offered;
    *to = target;
    return TRUE;
}

BOOL WINAPI setOption(HINTERNET request, DWORD option, LPVOID value, DWORD) {
    calls += on(request) + L"policy " + std::to_wstring(option) + L"=" +
             std::to_wstring(*static_cast<DWORD*>(value)) + L";";
    return TRUE;
}

BOOL WINAPI setCredentials(HINTERNET request, DWORD to, DWORD scheme, LPCWSTR user,
                           LPCWSTR password, LPVOID) {
    calls += on(request) + std::to_wstring(to) + L" " + std::to_wstring(scheme) + L" " +
             (user ? user : L"-") + L" " + (password ? password : L"-") + L";";
    return TRUE;
}

// The person types "ana" and "segredo", kept sealed as the prompt leaves them.
ProxyPrompt ask(SetupJob& job) {
    ++asked;
    std::wstring(L"ana").copy(job.proxySignIn.sealed.user, 3);
    std::wstring(L"segredo").copy(job.proxySignIn.sealed.password, 7);
    job.proxySignIn.kept = sealProxyCredentials(job.proxySignIn.sealed);
    return ProxyPrompt::Answered;
}

const ProxySignInIo kFake{query, setOption, setCredentials, ask};
HINTERNET const kFirst = reinterpret_cast<HINTERNET>(1);
HINTERNET const kSecond = reinterpret_cast<HINTERNET>(2);

TEST(ProxySignInSeam, TheLogonGoesToTheProxyTargetWithThePolicyRelaxedOnThatRequestOnly) {
    offered = WINHTTP_AUTH_SCHEME_NTLM | WINHTTP_AUTH_SCHEME_NEGOTIATE;
    calls.clear();
    SetupJob job;
    job.proxySignIn.prompt.store(ProxyPrompt::Closed); // no window
    ProxyTries first, second, third;
    EXPECT_TRUE(answerProxyWith(kFake, job, kFirst, first));
    EXPECT_FALSE(answerProxyWith(kFake, job, kFirst, first)); // refused: nobody to ask
    EXPECT_TRUE(answerProxyWith(kFake, job, kSecond, second));
    target = WINHTTP_AUTH_TARGET_SERVER; // a 401
    EXPECT_FALSE(answerProxyWith(kFake, job, kFirst, third));
    target = WINHTTP_AUTH_TARGET_PROXY;
    EXPECT_EQ(calls, L"1:policy 77=1;1:1 16 - -;2:policy 77=1;2:1 16 - -;");
}

TEST(ProxySignInSeam, APersonIsAskedOnceTheAnswerServesTheNextRequestWithoutThePolicy) {
    offered = WINHTTP_AUTH_SCHEME_BASIC;
    calls.clear();
    asked = 0;
    SetupJob job;
    ProxyTries first, second;
    EXPECT_TRUE(answerProxyWith(kFake, job, kFirst, first));
    EXPECT_TRUE(answerProxyWith(kFake, job, kSecond, second));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(answerProxyWith(kFake, job, kSecond, second)); // refused: asked again
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(calls, L"1:1 1 ana segredo;2:1 1 ana segredo;2:1 1 ana segredo;");
}

} // namespace
