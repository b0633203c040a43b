#include "trust/trust_state.h"

#include <softpub.h>

const GUID kAuthenticodeAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;

void TrustStateTraits::close(WINTRUST_DATA* data) {
    GUID action = kAuthenticodeAction;
    data->dwStateAction = WTD_STATEACTION_CLOSE;
    (void)WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, data);
}
