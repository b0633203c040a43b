#include "app/window_policy.h"

#include "base/file_security.h"

WindowDecision decideWindow(const WindowFacts& facts) {
    WindowDecision decision;
    if (facts.noWindowOption) {
        decision.noWindow = NoWindowReason::Option;
    } else if (facts.system) {
        decision.noWindow = NoWindowReason::System;
    } else if (facts.sessionZero) {
        decision.noWindow = NoWindowReason::SessionZero;
    } else if (!facts.stationVisible) {
        decision.noWindow = NoWindowReason::InvisibleStation;
    }
    decision.addressAsText = facts.elevated;
    return decision;
}

const wchar_t* noWindowLine(NoWindowReason reason) {
    switch (reason) {
    case NoWindowReason::System:
        return L"sem janela: corre como SYSTEM";
    case NoWindowReason::SessionZero:
        return L"sem janela: corre na sessao 0, onde ninguem a ve";
    case NoWindowReason::InvisibleStation:
        return L"sem janela: a estacao de janelas nao se ve";
    case NoWindowReason::None:
    case NoWindowReason::Option:
        break;
    }
    return nullptr;
}

WindowFacts readWindowFacts(const TokenFacts& token, bool noWindowOption) {
    WindowFacts facts;
    facts.noWindowOption = noWindowOption;
    facts.system = token.system;
    facts.elevated = token.elevated;
    // A fact that cannot be read counts as the ordinary case, a user's session on a visible
    // station; a dialog that then cannot be shown is still caught by the run loop.
    DWORD session = 1;
    facts.sessionZero = ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (HWINSTA station = GetProcessWindowStation();
        station != nullptr &&
        GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
        facts.stationVisible = (flags.dwFlags & WSF_VISIBLE) != 0;
    }
    return facts;
}
