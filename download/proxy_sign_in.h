#pragma once
// The answer to a proxy's 407, on the request that met it and on no other.

#include "job/proxy_credentials.h"
#include "download/proxy_rules.h"

#include <windows.h>
#include <winhttp.h>

struct SetupJob;

// The calls an answer makes, so that a unit test can stand in for WinHTTP and the person.
struct ProxySignInIo {
    BOOL(WINAPI* queryAuthSchemes)
    (HINTERNET request, LPDWORD offered, LPDWORD first, LPDWORD target);
    BOOL(WINAPI* setOption)(HINTERNET request, DWORD option, LPVOID value, DWORD bytes);
    BOOL(WINAPI* setCredentials)
    (HINTERNET request, DWORD target, DWORD scheme, LPCWSTR user, LPCWSTR password,
     LPVOID reserved);
    // Asks the progress dialog's thread for the prompt and waits: Answered, with the answer
    // sealed in the job, or Closed.
    ProxyPrompt (*ask)(SetupJob& job);
};

extern const ProxySignInIo kProxySignInIo;

// After a 407 on `request`: gives it the credentials the rules choose, for the proxy target;
// true when the request is to be sent again. `tried` belongs to the request.
[[nodiscard]] bool answerProxy(SetupJob& job, HINTERNET request, ProxyTries& tried);
[[nodiscard]] bool answerProxyWith(const ProxySignInIo& io, SetupJob& job, HINTERNET request,
                                   ProxyTries& tried);
