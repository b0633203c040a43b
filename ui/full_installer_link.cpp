#include "ui/full_installer_link.h"

#include "build_config.h"
#include "log/diagnostic_log.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

namespace {

// The shell may hand a URL to a handler that is a COM server: COM on this thread while it
// does. A thread already in another apartment keeps it, and is not uninitialized here.
class [[nodiscard]] ComApartment {
  public:
    ComApartment()
        : initialized_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialized_) {
            CoUninitialize();
        }
    }

  private:
    bool initialized_;
};

void openFullInstallerPage(HWND owner) {
    const ComApartment com;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    // Returns only once the shell has handed the address on: COM must outlive that.
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = owner;
    info.lpVerb = L"open";
    info.lpFile = SKYLOOM_FULL_INSTALLER_URL;
    info.nShow = SW_SHOWNORMAL;
    logLine(L"a abrir %s", info.lpFile);
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        logLine(L"ShellExecuteEx falhou (%lu)", error);
    }
}

} // namespace

HRESULT CALLBACK failureDialogCallback(HWND dialog, UINT notification, WPARAM, LPARAM, LONG_PTR) {
    // The link's own address (lParam) is not looked at: there is one link, to one address.
    if (notification == TDN_HYPERLINK_CLICKED) {
        openFullInstallerPage(dialog);
    }
    return S_OK;
}
