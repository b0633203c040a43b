#pragma once
// Whether the run shows windows. Deployment tools start the program as SYSTEM, in session 0 or
// on a window station nobody sees: a dialog there waits for a click that never comes, so such a
// run goes on as without a window, by policy. An elevated run shows its windows, but gives the
// full installer's address as text: a click on a link would start a browser with raised rights.

#include <windows.h>

struct TokenFacts;

struct WindowFacts {
    bool noWindowOption = false; // --sem-janela
    bool system = false;
    bool sessionZero = false;
    bool stationVisible = true;
    bool elevated = false;
};

// Why a run has no window; None when it has one.
enum class NoWindowReason { None, Option, System, SessionZero, InvisibleStation };

struct WindowDecision {
    NoWindowReason noWindow = NoWindowReason::None;
    bool addressAsText = false; // the failure dialog shows the address, not a link
};

[[nodiscard]] WindowDecision decideWindow(const WindowFacts& facts);

// The log's line for a run without a window by policy; null for a run with one or with the
// option.
[[nodiscard]] const wchar_t* noWindowLine(NoWindowReason reason);

// The session and the window station of this process, with the token's part and the option.
[[nodiscard]] WindowFacts readWindowFacts(const TokenFacts& token, bool noWindowOption);
