#pragma once
// The policy state that WinVerifyTrust keeps between WTD_STATEACTION_VERIFY and
// WTD_STATEACTION_CLOSE is a resource of its own: the guard holds the WINTRUST_DATA record whose
// hWVTStateData names the state, and hands it back with WTD_STATEACTION_CLOSE.

#include "base/handles.h"

#include <windows.h>
#include <wintrust.h>

// The Authenticode policy, {00AAC56B-CD44-11D0-8CC2-00C04FC295EE}.
extern const GUID kAuthenticodeAction;

struct TrustStateTraits {
    using Value = WINTRUST_DATA*;
    static Value none() { return nullptr; }
    // Releases the state with the same window, action and record as the check; the release's
    // own status says nothing about the file and is ignored.
    static void close(Value data);
};

using UniqueTrustState = UniqueResource<TrustStateTraits>;
