#include "app/single_instance.h"

#include "base/file_security.h"
#include "log/diagnostic_log.h"

InstanceScope instanceScopeFor(bool system, bool elevated, bool sessionZero) {
    const bool machineWide = system || elevated;
    return {machineWide ? kGlobalMutexName : kLocalMutexName, machineWide || sessionZero};
}

InstanceVerdict judgeInstance(bool shared, MutexOpen open, bool ownerTrusted) {
    switch (open) {
    case MutexOpen::Existed:
        return !shared || ownerTrusted ? InstanceVerdict::AnotherRun
                                       : InstanceVerdict::StrangerHolds;
    case MutexOpen::Denied:
        // A run of ours makes the mutex open to every run of ours.
        return shared ? InstanceVerdict::StrangerHolds : InstanceVerdict::Alone;
    case MutexOpen::Created:
    case MutexOpen::Failed:
        break;
    }
    return InstanceVerdict::Alone;
}

bool anotherRunHolds(InstanceScope scope, PSID trustedUser) {
    UniqueLocal descriptor;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
    if (scope.shared && protectedSecurity(trustedUser, L"GA", false, descriptor) == 0) {
        attributes.lpSecurityDescriptor = descriptor.get();
    }
    // Held, never closed, until the process ends.
    const HANDLE mutex = CreateMutexW(&attributes, TRUE, scope.name);
    const DWORD error = GetLastError();
    MutexOpen open = MutexOpen::Failed;
    if (mutex != nullptr) {
        open = error == ERROR_ALREADY_EXISTS ? MutexOpen::Existed : MutexOpen::Created;
    } else if (error == ERROR_ACCESS_DENIED) {
        open = MutexOpen::Denied;
    }
    bool ownerTrusted = false;
    if (open == MutexOpen::Existed && scope.shared) {
        SecurityFacts facts;
        ownerTrusted = readSecurityFacts(mutex, SE_KERNEL_OBJECT, trustedUser, facts) == 0 &&
                       facts.ownerTrusted;
    }
    switch (judgeInstance(scope.shared, open, ownerTrusted)) {
    case InstanceVerdict::AnotherRun:
        logLine(L"ja' ha' um a correr");
        return true;
    case InstanceVerdict::StrangerHolds:
        logLine(L"o mutex %s e' de outro dono: continuo sem essa protecao", scope.name);
        break;
    case InstanceVerdict::Alone:
        break;
    }
    return false;
}
