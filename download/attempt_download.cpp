#include "download/attempt_download.h"

#include "job/failure_cause.h"
#include "job/setup_job.h"
#include "base/handles.h"
#include "base/wide_format.h"
#include "download/body_transfer.h"
#include "download/judge_response.h"
#include "download/proxy_sign_in.h"
#include "download/transfer_rules.h"
#include "download/url_parts.h"
#include "log/diagnostic_log.h"

// The cause of a failure reads the flags and the errors by these numbers, without the system
// headers.
static_assert(kInvalidCertificate == WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT &&
              kInvalidCertificateAuthority == WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA &&
              kCertificateDateInvalid == WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID &&
              kSecurityChannelError == WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR);
static_assert(kErrorTimeout == ERROR_WINHTTP_TIMEOUT &&
              kErrorNameNotResolved == ERROR_WINHTTP_NAME_NOT_RESOLVED &&
              kErrorCannotConnect == ERROR_WINHTTP_CANNOT_CONNECT &&
              kErrorConnectionError == ERROR_WINHTTP_CONNECTION_ERROR &&
              kErrorSecureCertDateInvalid == ERROR_WINHTTP_SECURE_CERT_DATE_INVALID &&
              kErrorSecureCertNameInvalid == ERROR_WINHTTP_SECURE_CERT_CN_INVALID &&
              kErrorClientCertificateNeeded == ERROR_WINHTTP_CLIENT_AUTH_CERT_NEEDED &&
              kErrorSecureInvalidCa == ERROR_WINHTTP_SECURE_INVALID_CA &&
              kErrorSecureCertRevFailed == ERROR_WINHTTP_SECURE_CERT_REV_FAILED &&
              kErrorSecureChannelError == ERROR_WINHTTP_SECURE_CHANNEL_ERROR &&
              kErrorSecureInvalidCert == ERROR_WINHTTP_SECURE_INVALID_CERT &&
              kErrorSecureCertRevoked == ERROR_WINHTTP_SECURE_CERT_REVOKED &&
              kErrorSecureFailure == ERROR_WINHTTP_SECURE_FAILURE &&
              kErrorSecureCertWrongUsage == ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE &&
              kStatusProxyAuthenticationRequired == HTTP_STATUS_PROXY_AUTH_REQ);
static_assert(kErrorSharingViolation == ERROR_SHARING_VIOLATION &&
              kErrorLockViolation == ERROR_LOCK_VIOLATION &&
              kErrorAppHelpBlock == ERROR_APPHELP_BLOCK &&
              kErrorDisabledByPolicy == ERROR_ACCESS_DISABLED_BY_POLICY);
// mingw-w64 10 does not name these two; the Windows SDK does.
#ifdef ERROR_VIRUS_INFECTED
static_assert(kErrorVirusInfected == ERROR_VIRUS_INFECTED &&
              kErrorVirusDeleted == ERROR_VIRUS_DELETED);
#endif

namespace {

// The request handle lives in the job's slot from its opening to the release. Whoever takes
// it out by exchange closes it, so the UI's Cancel and this guard close it exactly once; the
// attempt keeps no owning copy of its own.
class [[nodiscard]] PublishedRequest {
  public:
    PublishedRequest(std::atomic<HINTERNET>& slot, HINTERNET request)
        : slot_(slot), request_(request) {
        // Whatever an earlier attempt left there is not ours to close.
        (void)slot_.exchange(request);
    }
    PublishedRequest(const PublishedRequest&) = delete;
    PublishedRequest& operator=(const PublishedRequest&) = delete;
    ~PublishedRequest() {
        if (HINTERNET mine = slot_.exchange(nullptr)) {
            WinHttpCloseHandle(mine);
        }
    }

    // Still usable after a Cancel closed it: the calls on it then fail at once.
    HINTERNET get() const { return request_; }

  private:
    std::atomic<HINTERNET>& slot_;
    HINTERNET request_;
};

// Registered for secure failures only: WinHTTP calls it inside the send, with the send's
// context, which carries where the flags go. Without a context (a call outside the send) there
// is nowhere to put them.
void CALLBACK noteSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID information,
                                DWORD length) {
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context != 0 &&
        information != nullptr && length >= sizeof(DWORD)) {
        reinterpret_cast<std::atomic<std::uint32_t>*>(context)->store(
            *static_cast<const DWORD*>(information));
    }
}

SetupResult cancelledOr(const SetupJob& job, SetupResult otherwise) {
    return attemptCode(job.cancelRequested.load(), otherwise);
}

// Sends the request and waits for the answer's headers; 0, or the error of the call that
// failed (ERROR_CANCELLED when a Cancel came first). A server (or a proxy that inspects TLS)
// that asks for a client certificate gets the request once more, saying there is none: the
// error may come from the send or the receive.
[[nodiscard]] DWORD sendAndReceive(SetupJob& job, HINTERNET request) {
    const auto context = reinterpret_cast<DWORD_PTR>(&job.secureFailureFlags);
    bool resent = false;
    for (;;) {
        if (job.cancelRequested.load()) {
            return ERROR_CANCELLED;
        }
        if (WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                               0, 0, context) &&
            WinHttpReceiveResponse(request, nullptr)) {
            return 0;
        }
        const DWORD error = GetLastError();
        if (!resendWithoutClientCertificate(error, resent) || job.cancelRequested.load()) {
            return error;
        }
        resent = true;
        logLine(L"o servidor pede um certificado de cliente: volto a pedir sem nenhum");
        if (!WinHttpSetOption(request, WINHTTP_OPTION_CLIENT_CERT_CONTEXT,
                              WINHTTP_NO_CLIENT_CERT_CONTEXT, 0)) {
            return GetLastError();
        }
    }
}

// Sends the request and reads the answer's status (0 when it cannot be read), logged; Ok, or how
// the attempt ends.
SetupResult exchange(SetupJob& job, HINTERNET request, const std::wstring& url, std::int64_t from,
                     DWORD& status) {
    if (const DWORD error = sendAndReceive(job, request); error != 0) {
        if (error == ERROR_CANCELLED) {
            return SetupResult::Cancelled;
        }
        job.detail = error;
        logLine(L"%s -> sem resposta (%lu)", url.c_str(), error);
        return cancelledOr(job, SetupResult::NetworkError);
    }
    // The status and the headers the decision reads are asked of the request too.
    if (job.cancelRequested.load()) {
        return SetupResult::Cancelled;
    }
    DWORD statusBytes = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusBytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        status = 0;
    }
    logLine(L"%s -> HTTP %lu (a partir de %lld)", url.c_str(), status, from);
    return SetupResult::Ok;
}

bool readResponse(void* request, void* buffer, DWORD capacity, DWORD& read) {
    return WinHttpReadData(static_cast<HINTERNET>(request), buffer, capacity, &read) != FALSE;
}

// Streams the body onto the end of the file, which holds `at.resumeOffset` bytes of the
// accepted size `at.knownTotal`.
AttemptOutcome streamBody(SetupJob& job, HINTERNET request, HANDLE file, FilePosition at) {
    job.phase.store(JobPhase::Downloading);
    const std::int64_t size = at.knownTotal;
    const BodyEnd end = transferBody(job, readResponse, request, file, size, at.resumeOffset);
    SetupResult code = SetupResult::Ok;
    switch (end) {
    case BodyEnd::Complete:
        break;
    case BodyEnd::Cancelled:
        code = SetupResult::Cancelled;
        break;
    case BodyEnd::ReadFailed:
        logLine(L"a leitura parou aos %lld de %lld (%lu)", at.resumeOffset, size, job.detail);
        code = cancelledOr(job, SetupResult::TransferIncomplete);
        break;
    case BodyEnd::EndedShort:
        logLine(L"acabou aos %lld de %lld", at.resumeOffset, size);
        code = SetupResult::TransferIncomplete;
        break;
    case BodyEnd::TooLong:
        logLine(L"o servidor mandou mais do que anunciou");
        code = SetupResult::UnexpectedSize;
        break;
    case BodyEnd::WriteFailed:
        code = writeFailure(job.detail);
        break;
    }
    return {code, at};
}

// "If-Range" with the strong ETag or the Last-Modified kept, when they prove the release.
void addIfRange(HINTERNET request, const ReleaseValidators& validators) {
    // The value is one of the record's own terminated buffers, or empty.
    const std::wstring_view value = ifRangeValue(validators);
    if (value.empty()) {
        return;
    }
    wchar_t header[kIfRangeHeaderCapacity];
    formatWide(header, L"If-Range: %s", value.data());
    (void)WinHttpAddRequestHeaders(request, header, static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_ADD);
}

} // namespace

AttemptOutcome attemptDownload(SetupJob& job, const std::wstring& url, HANDLE file,
                               FilePosition at) {
    job.serverFileChanged = false;
    CrackedUrl parts;
    if (const DWORD error = crackUrl(url, parts); error != 0) {
        job.detail = error;
        return {SetupResult::UrlRefused, at};
    }
    if (!urlAllowed(parts.scheme, parts.host)) {
        logLine(L"recusado (so' https): %s", url.c_str());
        return {SetupResult::UrlRefused, at};
    }

    // --proxy takes every URL, this machine's too: no bypass list.
    const bool named = !job.proxy.empty();
    UniqueInternet session(WinHttpOpen(
        kUserAgent, named ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
        named ? job.proxy.c_str() : WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        job.detail = GetLastError();
        return {SetupResult::NetworkError, at};
    }
    (void)WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                             kReceiveTimeoutMs);
    // The wait for the answer's headers has a time-out of its own (90 s by default on Windows),
    // which Wine 8 never applies unless it is set: a server that takes the request and says
    // nothing then held the run for ever.
    DWORD responseTimeout = kReceiveTimeoutMs;
    (void)WinHttpSetOption(session.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                           sizeof responseTimeout);
    // The platform follows redirects itself: from https to https only, and none at all from
    // plain http, which is allowed to this machine alone.
    DWORD redirectPolicy = redirectPolicyFor(parts.scheme);
    (void)WinHttpSetOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                           sizeof redirectPolicy);

    UniqueInternet connection(WinHttpConnect(session.get(), parts.host, parts.port, 0));
    if (!connection) {
        job.detail = GetLastError();
        return {SetupResult::NetworkError, at};
    }
    const DWORD secure = parts.scheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET opened = WinHttpOpenRequest(connection.get(), L"GET", parts.path, nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure);
    if (opened == nullptr) {
        job.detail = GetLastError();
        return {SetupResult::NetworkError, at};
    }
    const PublishedRequest request(job.activeRequest, opened);
    // A Cancel between the last look at the flag and the publication found the slot empty and
    // closed nothing: seen here, or the send would wait out the server's time-outs.
    // From here on a Cancel may close the request under any call on it, so each call is
    // preceded by a look at the flag. That narrows the window but cannot close it: a call that
    // meets the closed handle fails with an invalid handle, and the attempt then ends as
    // cancelled. Only this thread opens WinHTTP handles, so the value is not reused meanwhile.
    if (job.cancelRequested.load()) {
        return {SetupResult::Cancelled, at};
    }
    if (at.resumeOffset > 0) {
        wchar_t range[kRangeHeaderCapacity];
        formatWide(range, L"Range: bytes=%lld-", at.resumeOffset);
        (void)WinHttpAddRequestHeaders(request.get(), range, static_cast<DWORD>(-1),
                                       WINHTTP_ADDREQ_FLAG_ADD);
        addIfRange(request.get(), at.validators);
        job.resumedDownload = true;
    }
    job.secureFailureFlags.store(0);
    if (job.cancelRequested.load()) {
        return {SetupResult::Cancelled, at};
    }
    (void)WinHttpSetStatusCallback(request.get(), noteSecureFailure,
                                   WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
    DWORD status = 0;
    SetupResult sent = exchange(job, request.get(), url, at.resumeOffset, status);
    // A proxy's 407 is answered on this request, and sent again; a 401 never is.
    ProxyTries tried;
    while (sent == SetupResult::Ok && status == HTTP_STATUS_PROXY_AUTH_REQ &&
           answerProxy(job, request.get(), tried)) {
        sent = exchange(job, request.get(), url, at.resumeOffset, status);
    }
    if (sent != SetupResult::Ok) {
        return {sent, at};
    }

    const Judgement judgement = judgeResponse(job, request.get(), file, status, at);
    if (!judgement.transfer) {
        // A Cancel that closed the request before the status was read leaves status 0: the
        // refusal that follows is the Cancel's doing, not the server's.
        return {cancelledOr(job, judgement.code), judgement.position};
    }
    return streamBody(job, request.get(), file, judgement.position);
}
