#include "app/single_instance.h"

#include "log/diagnostic_log.h"

InstanceScopes instanceScopesFor(const TokenFacts& token, bool sessionZero) {
    InstanceScopes scopes;
    scopes.user = token.user();
    if (!(token.system || token.elevated)) {
        scopes.scopes[scopes.count++] = {kLocalMutexName, sessionZero,
                                         sessionZero ? token.user() : nullptr, nullptr};
        return scopes;
    }
    scopes.scopes[scopes.count++] = {kGlobalMutexName, true, trustedSetFor(token).user, nullptr};
    if (!sessionZero) {
        scopes.scopes[scopes.count++] = {kLocalMutexName, true, token.user(), token.user()};
    }
    return scopes;
}

InstanceVerdict judgeInstance(bool shared, MutexOpen open, bool ownerTrusted) {
    switch (open) {
    case MutexOpen::Existed:
        return !shared || ownerTrusted ? InstanceVerdict::AnotherRun
                                       : InstanceVerdict::StrangerHolds;
    case MutexOpen::Denied:
        // A run of ours makes a shared mutex open to every run of ours. A user's run is kept out
        // of the one an elevated run made, and of another account's, which must not stop it.
        if (shared) {
            return InstanceVerdict::StrangerHolds;
        }
        return ownerTrusted ? InstanceVerdict::AnotherRun : InstanceVerdict::Alone;
    case MutexOpen::Created:
    case MutexOpen::Failed:
        break;
    }
    return InstanceVerdict::Alone;
}

namespace {

bool ownerIsTrusted(HANDLE mutex, PSID ownerUser) {
    SecurityFacts facts;
    return readSecurityFacts(mutex, SE_KERNEL_OBJECT, {ownerUser}, facts) == 0 &&
           facts.ownerTrusted;
}

InstanceVerdict takeMutex(const InstanceScope& scope, const TrustedSet& trusted, PSID user) {
    UniqueLocal descriptor;
    // An absolute descriptor that names the owner and no DACL: the token's default one applies.
    SECURITY_DESCRIPTOR ownerNamed{
        SECURITY_DESCRIPTOR_REVISION, 0, 0, user, nullptr, nullptr, nullptr};
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &ownerNamed, FALSE};
    if (scope.shared) {
        attributes.lpSecurityDescriptor =
            protectedSecurity(trusted, ProtectedObject::Mutex, descriptor, scope.watcher) == 0
                ? descriptor.get()
                : nullptr;
    }
    // Held, never closed, until the process ends.
    const HANDLE mutex = CreateMutexW(&attributes, TRUE, scope.name);
    const DWORD error = GetLastError();
    MutexOpen open = MutexOpen::Failed;
    bool ownerTrusted = false;
    if (mutex != nullptr) {
        open = error == ERROR_ALREADY_EXISTS ? MutexOpen::Existed : MutexOpen::Created;
        ownerTrusted = open == MutexOpen::Existed && ownerIsTrusted(mutex, scope.ownerUser);
    } else if (error == ERROR_ACCESS_DENIED) {
        open = MutexOpen::Denied;
        const UniqueKernelHandle looked(OpenMutexW(SYNCHRONIZE | READ_CONTROL, FALSE, scope.name));
        ownerTrusted = looked && ownerIsTrusted(looked.get(), scope.ownerUser);
    }
    return judgeInstance(scope.shared, open, ownerTrusted);
}

} // namespace

bool anotherRunHolds(const InstanceScopes& scopes, const TrustedSet& trusted) {
    for (std::size_t i = 0; i < scopes.count; ++i) {
        const InstanceScope& scope = scopes.scopes[i];
        switch (takeMutex(scope, trusted, scopes.user)) {
        case InstanceVerdict::AnotherRun:
            logLine(L"ja' ha' um a correr");
            return true;
        case InstanceVerdict::StrangerHolds:
            logLine(L"o mutex %s e' de outro dono: continuo sem essa protecao", scope.name);
            break;
        case InstanceVerdict::Alone:
            break;
        }
    }
    return false;
}
