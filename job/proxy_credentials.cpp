#include "job/proxy_credentials.h"

bool sealProxyCredentials(ProxyCredentials& credentials) {
    if (CryptProtectMemory(&credentials, sizeof credentials, CRYPTPROTECTMEMORY_SAME_PROCESS)) {
        return true;
    }
    wipeProxyCredentials(credentials);
    return false;
}

bool openProxyCredentials(const ProxyCredentials& sealed, ProxyCredentials& copy) {
    copy = sealed;
    if (CryptUnprotectMemory(&copy, sizeof copy, CRYPTPROTECTMEMORY_SAME_PROCESS)) {
        return true;
    }
    wipeProxyCredentials(copy);
    return false;
}

void wipeProxyCredentials(ProxyCredentials& credentials) {
    SecureZeroMemory(&credentials, sizeof credentials);
}
