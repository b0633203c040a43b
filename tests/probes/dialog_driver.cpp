// dialog_driver TITLE SECONDS [--redraw] [WHEN=>ACTION]...
// Drives the bootstrapper's task dialogs as a user would, from the Windows side (keys sent from
// X do not reach a Wine dialog). Watches the top-level windows titled TITLE and prints one JSON
// line per change: each window's place on the screen and its child controls (class, id,
// visibility, text; the progress bar's position and whether it runs as a marquee; whether a
// button is the default one), with the window's owner and thread. The steps run in order: once a
// shown window has a visible control whose text contains WHEN (empty: at once; "#ID": a control
// with that id), ACTION is done:
//   press:ID  WM_COMMAND for the button ID, as its click sends it
//   escape    the Escape key, through the dialog's own message loop
//   close     WM_CLOSE, as the title bar's close button sends it
//   link      a left click on the link that ends the first SysLink control (the content of a
//             task dialog with hyperlinks)
//   wait:MS   nothing for MS milliseconds
//   type:ID:TEXT  TEXT into every control with that id (a combo box, its edit control)
// The driver ends once no such window has been seen for 3 s: exit code 0 when every step was
// done, 4 when some were left; 3 when SECONDS passed first.
// --redraw repaints a window whenever it changed, and every 400 ms, for screenshots: Wine leaves
// parts of a text unpainted after the task dialog lays itself out again.
#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace {

struct Step {
    std::wstring when;
    std::wstring action;
};

void writeUtf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring jsonString(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += L'\\';
            out += c;
        } else if (c < 0x20) {
            wchar_t escaped[8];
            _snwprintf_s(escaped, 8, _TRUNCATE, L"\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + L"\"";
}

// A window whose thread has stopped pumping (a process on its way out) must not hang the
// driver: every message has a time limit.
LRESULT ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000,
                             &answer)) {
        return 0;
    }
    return static_cast<LRESULT>(answer);
}

std::wstring windowText(HWND window) {
    // One buffer larger than any text of the dialogs: asking for the length first could race
    // with a text that grows in between.
    std::wstring text(8192, L'\0');
    const LRESULT got = ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got));
    return text;
}

struct Control {
    HWND window;
    std::wstring className;
    int id;
    bool visible;
    std::wstring text;
};

BOOL CALLBACK collectChild(HWND child, LPARAM list) {
    wchar_t className[64] = {};
    GetClassNameW(child, className, 64);
    auto& controls = *reinterpret_cast<std::vector<Control>*>(list);
    controls.push_back({child, className, GetDlgCtrlID(child), IsWindowVisible(child) != FALSE,
                        windowText(child)});
    return TRUE;
}

std::vector<Control> controlsOf(HWND dialog) {
    std::vector<Control> controls;
    EnumChildWindows(dialog, collectChild, reinterpret_cast<LPARAM>(&controls));
    return controls;
}

struct Found {
    const std::wstring* title;
    std::vector<HWND> windows;
};

BOOL CALLBACK collectTopLevel(HWND window, LPARAM found) {
    auto& f = *reinterpret_cast<Found*>(found);
    // The title from the window manager's copy first: no message to windows of other programs.
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    if (IsWindowVisible(window) && *f.title == title) {
        f.windows.push_back(window);
    }
    return TRUE;
}

std::wstring describe(HWND dialog, const std::vector<Control>& controls) {
    wchar_t handle[32];
    _snwprintf_s(handle, 32, _TRUNCATE, L"%p", static_cast<void*>(dialog));
    RECT rect{};
    GetWindowRect(dialog, &rect);
    wchar_t owner[32];
    _snwprintf_s(owner, 32, _TRUNCATE, L"%p", static_cast<void*>(GetWindow(dialog, GW_OWNER)));
    std::wstring line =
        L"{\"window\": \"" + std::wstring(handle) + L"\", \"owner\": \"" + owner +
        L"\", \"thread\": " + std::to_wstring(GetWindowThreadProcessId(dialog, nullptr)) +
        L", \"rect\": [" + std::to_wstring(rect.left) + L", " + std::to_wstring(rect.top) + L", " +
        std::to_wstring(rect.right) + L", " + std::to_wstring(rect.bottom) + L"], \"controls\": [";
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const Control& c = controls[i];
        line += i ? L", " : L"";
        line += L"{\"class\": " + jsonString(c.className) + L", \"id\": " + std::to_wstring(c.id) +
                L", \"visible\": " + (c.visible ? L"true" : L"false") + L", \"text\": " +
                jsonString(c.text);
        if (c.className == PROGRESS_CLASSW) {
            const LONG_PTR style = GetWindowLongPtrW(c.window, GWL_STYLE);
            line += L", \"position\": " + std::to_wstring(ask(c.window, PBM_GETPOS, 0, 0)) +
                    L", \"marquee\": " + ((style & PBS_MARQUEE) ? L"true" : L"false");
        }
        if (c.className == L"Button") {
            const LONG_PTR style = GetWindowLongPtrW(c.window, GWL_STYLE);
            line += L", \"default\": " +
                    std::wstring((style & 0x0F) == BS_DEFPUSHBUTTON ? L"true" : L"false");
        }
        line += L"}";
    }
    return line + L"]}\n";
}

void event(const std::wstring& name, const std::wstring& detail) {
    writeUtf8(L"{\"event\": " + jsonString(name) + L", \"detail\": " + jsonString(detail) + L"}\n");
}

// The failure dialog's link is its content's last paragraph: a click at the start of the last
// line of the first SysLink control.
bool clickLink(const std::vector<Control>& controls) {
    for (const Control& c : controls) {
        RECT client{};
        if (c.className == WC_LINK && c.visible && GetClientRect(c.window, &client)) {
            const LPARAM where = MAKELPARAM(4, client.bottom - 4);
            PostMessageW(c.window, WM_LBUTTONDOWN, MK_LBUTTON, where);
            return PostMessageW(c.window, WM_LBUTTONUP, 0, where) != FALSE;
        }
    }
    return false;
}

bool act(HWND dialog, const std::vector<Control>& controls, const std::wstring& action) {
    if (action.rfind(L"press:", 0) == 0) {
        const int id = std::stoi(action.substr(6));
        HWND button = nullptr;
        for (const Control& c : controls) {
            if (c.id == id && c.className == L"Button") {
                button = c.window;
            }
        }
        if (button == nullptr) {
            return false;
        }
        return PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                            reinterpret_cast<LPARAM>(button)) != FALSE;
    }
    if (action == L"escape") {
        // Posted to the control with the focus, so the dialog's loop turns it into IDCANCEL.
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
        HWND target = info.hwndFocus ? info.hwndFocus : dialog;
        PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        return PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001) != FALSE;
    }
    if (action == L"close") {
        return PostMessageW(dialog, WM_CLOSE, 0, 0) != FALSE;
    }
    if (action == L"link") {
        return clickLink(controls);
    }
    if (action.rfind(L"type:", 0) == 0) {
        const std::size_t colon = action.find(L':', 5);
        const int id = std::stoi(action.substr(5, colon - 5));
        const std::wstring text = colon == std::wstring::npos ? L"" : action.substr(colon + 1);
        bool typed = false;
        for (const Control& c : controls) {
            if (c.id == id) {
                typed =
                    ask(c.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) || typed;
            }
        }
        return typed;
    }
    if (action.rfind(L"wait:", 0) == 0) {
        Sleep(static_cast<DWORD>(std::stoul(action.substr(5))));
        return true;
    }
    return false;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        writeUtf8(L"usage: dialog_driver TITLE SECONDS [WHEN=>ACTION]...\n");
        return 2;
    }
    const std::wstring title = argv[1];
    const ULONGLONG deadline = GetTickCount64() + std::stoul(argv[2]) * 1000ull;
    std::vector<Step> steps;
    const bool redraw = argc > 3 && std::wstring(argv[3]) == L"--redraw";
    for (int i = redraw ? 4 : 3; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const std::size_t arrow = arg.find(L"=>");
        steps.push_back(arrow == std::wstring::npos
                            ? Step{L"", arg}
                            : Step{arg.substr(0, arrow), arg.substr(arrow + 2)});
    }

    std::size_t next = 0;
    std::wstring last;
    ULONGLONG lastSeen = 0;
    bool seenAny = false;
    ULONGLONG lastRedraw = 0;
    while (GetTickCount64() < deadline) {
        Found found{&title, {}};
        EnumWindows(collectTopLevel, reinterpret_cast<LPARAM>(&found));
        std::wstring now;
        for (HWND dialog : found.windows) {
            // Controls are read one after another while the dialog may be in the middle of a
            // tick: only two equal reads in a row count.
            std::vector<Control> controls = controlsOf(dialog);
            std::wstring view = describe(dialog, controls);
            for (int tries = 0; tries < 10; ++tries) {
                std::vector<Control> again = controlsOf(dialog);
                std::wstring second = describe(dialog, again);
                const bool stable = second == view;
                controls = std::move(again);
                view = std::move(second);
                if (stable) {
                    break;
                }
            }
            now += view;
            if (redraw &&
                (last.find(view) == std::wstring::npos || GetTickCount64() - lastRedraw > 400)) {
                lastRedraw = GetTickCount64();
                RedrawWindow(dialog, nullptr, nullptr,
                             RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            }
            if (next < steps.size()) {
                const std::wstring& when = steps[next].when;
                bool ready = when.empty();
                for (const Control& c : controls) {
                    ready = ready || (when[0] == L'#'
                                          ? std::to_wstring(c.id) == when.substr(1)
                                          : c.visible && c.text.find(when) != std::wstring::npos);
                }
                if (ready) {
                    if (now != last) {
                        writeUtf8(now);
                        last = now;
                    }
                    if (act(dialog, controls, steps[next].action)) {
                        event(L"done", steps[next].action);
                        ++next;
                    }
                }
            }
        }
        if (now != last) {
            writeUtf8(now.empty() ? L"{\"event\": \"gone\", \"detail\": \"\"}\n" : now);
            last = now;
        }
        if (!found.windows.empty()) {
            seenAny = true;
            lastSeen = GetTickCount64();
        } else if (seenAny && GetTickCount64() - lastSeen > 3000) {
            return next == steps.size() ? 0 : 4;
        }
        Sleep(20);
    }
    event(L"timeout", next < steps.size() ? steps[next].action : L"");
    return 3;
}
