// The route through the system's HTTP stack (WinHTTP): https://, requests the user's
// settings send through a proxy, and servers that moved. Same contract as the direct
// client: result codes, phase posts, counters, cancel, what a retry needs to know.
#include "engine/UpdateEngine.h"

#include <winhttp.h>

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "engine/BodyFile.h"
#include "engine/DownloadAttempt.h"
#include "framework/UserText.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 // missing from older SDKs' headers
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace {

const int kMaxMoves = 5;
const DWORD kConnectMs = 60000, kTransferMs = 300000; // as the direct client's
const DWORD kReadSize = 64 * 1024;

struct CInternetDeleter {
    void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using CInternet = std::unique_ptr<void, CInternetDeleter>;

bool IsSecure(const std::string& url)
{
    return url.compare(0, 8, "https://") == 0;
}

// What a failed call of the stack means for the caller: the server cannot be found or
// trusted (-1), or the connection failed (-2).
int FailureCode(DWORD error)
{
    switch (error) {
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return DOWNLOAD_FAILED;
    default:
        return DOWNLOAD_TRANSFER;
    }
}

std::wstring HeaderText(HINTERNET request, DWORD query)
{
    DWORD size = 0;
    WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return std::wstring();
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, &text[0], &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::wstring();
    text.resize(size / sizeof(wchar_t));
    return text;
}

// Lets the stack answer a proxy's 407 with the user's logon (no name and password: the
// logon itself), where the proxy accepts integrated authentication.
bool SetProxyLogon(HINTERNET request)
{
    DWORD schemes = 0, first = 0, target = 0;
    if (!WinHttpQueryAuthSchemes(request, &schemes, &first, &target))
        return false;
    const DWORD scheme = schemes & WINHTTP_AUTH_SCHEME_NEGOTIATE ? WINHTTP_AUTH_SCHEME_NEGOTIATE
                         : schemes & WINHTTP_AUTH_SCHEME_NTLM    ? WINHTTP_AUTH_SCHEME_NTLM
                                                                 : 0;
    return scheme
           && WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, scheme, nullptr, nullptr, nullptr);
}

// The absolute URL a Location names, relative to `base`; false when there is none.
bool MovedTo(const std::string& base, const std::wstring& location, std::string& url)
{
    std::string target;
    if (location.empty() || !Narrow(location, CP_ACP, target))
        return false;
    if (target.compare(0, 7, "http://") == 0 || target.compare(0, 8, "https://") == 0) {
        url = target;
        return true;
    }
    const size_t hostStart = base.find("://") + 3;
    const size_t pathStart = base.find('/', hostStart);
    const std::string origin = base.substr(0, pathStart);
    if (target.compare(0, 2, "//") == 0)
        url = base.substr(0, hostStart - 2) + target;
    else if (target[0] == '/')
        url = origin + target;
    else {
        const std::string path = pathStart == std::string::npos ? "/" : base.substr(pathStart);
        url = origin + path.substr(0, path.find_last_of('/', path.find('?')) + 1) + target;
    }
    return true;
}

std::string Narrowed(const wchar_t* text)
{
    std::string narrow;
    return text && Narrow(text, CP_ACP, narrow) ? narrow : std::string();
}

std::string HostOf(const std::string& url)
{
    const size_t hostStart = url.find("://") + 3;
    return url.substr(hostStart, url.find_first_of(":/?", hostStart) - hostStart);
}

// Whether the user's bypass list names the host: "<local>" for names without a dot,
// otherwise names with '*' for any characters, separated by ';' or blanks.
bool Bypassed(const std::string& host, const std::string& list)
{
    size_t at = 0;
    while (at < list.size()) {
        const size_t end = std::min(list.find_first_of("; \t", at), list.size());
        const std::string entry = list.substr(at, end - at);
        at = end + 1;
        if (entry == "<local>" ? host.find('.') == std::string::npos
                               : !entry.empty() && PathMatchSpecA(host.c_str(), entry.c_str()))
            return true;
    }
    return false;
}

} // namespace

namespace engine_detail {
BOOL(WINAPI* g_pSetHttpOption)(void*, DWORD, void*, DWORD) = WinHttpSetOption;
void (*g_pFreeRequest)(void*, size_t) = [](void* p, size_t) { ::operator delete(p); };
} // namespace engine_detail

using engine_detail::g_pSetHttpOption;

// One request of the stack: its handle, which Cancel may close from the interface
// thread, and what the stack's callbacks share with the worker. Two owners: the worker,
// until Close(), and the stack, from the moment its callback can see the object until it
// reports the handle closing (after a cancel's close, maybe later). The last one deletes.
class CSystemRequest {
public:
    // The request opened, known to the engine and handed to the stack; null on failure.
    static CSystemRequest* Open(CUpdateEngine& engine, HINTERNET connection, const std::wstring& object,
                                DWORD flags);
    // The worker's end: the handle closed unless Cancel did, and its share let go.
    void Close(CUpdateEngine& engine);
    struct CCloser {
        CUpdateEngine* pEngine;
        void operator()(CSystemRequest* p) const { p->Close(*pEngine); }
    };
    static void operator delete(void* p, size_t size) { engine_detail::g_pFreeRequest(p, size); }
    CSystemRequest(const CSystemRequest&) = delete;
    CSystemRequest& operator=(const CSystemRequest&) = delete;

    const HINTERNET m_h;
    const HANDLE m_hDone; // a step of the stack completed or failed
    DWORD m_dwError = 0;
    DWORD m_dwRead = 0; // bytes available, then bytes read
    char m_buffer[kReadSize];

private:
    explicit CSystemRequest(HINTERNET h) : m_h(h), m_hDone(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~CSystemRequest() { CloseHandle(m_hDone); }
    void Release()
    {
        if (--m_refs == 0)
            delete this;
    }
    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length);

    std::atomic<int> m_refs{1}; // the worker's; the stack's once handed over
};

CSystemRequest* CSystemRequest::Open(CUpdateEngine& engine, HINTERNET connection, const std::wstring& object,
                                     DWORD flags)
{
    const HINTERNET h = WinHttpOpenRequest(connection, L"GET", object.empty() ? L"/" : object.c_str(),
                                           nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    if (!h)
        return nullptr;
    auto* const p = new CSystemRequest(h);
    {
        const std::lock_guard<std::mutex> lock(engine.m_socketLock);
        engine.m_hRequest = h;
    }
    // The stack's share is counted before it can see the object: from then on a cancel may
    // close the handle, and the stack report the closing, before the call has returned.
    ++p->m_refs;
    DWORD_PTR self = reinterpret_cast<DWORD_PTR>(p);
    if (WinHttpSetStatusCallback(h, OnStatus,
                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0)
            != WINHTTP_INVALID_STATUS_CALLBACK
        && g_pSetHttpOption(h, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self))
        return p;
    p->Release(); // it never reached the stack
    p->Close(engine);
    return nullptr;
}

void CSystemRequest::Close(CUpdateEngine& engine)
{
    {
        const std::lock_guard<std::mutex> lock(engine.m_socketLock);
        if (engine.m_hRequest == m_h) {
            WinHttpCloseHandle(m_h);
            engine.m_hRequest = nullptr;
        }
    }
    Release();
}

void CALLBACK CSystemRequest::OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    auto* p = reinterpret_cast<CSystemRequest*>(context);
    if (!p)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        p->m_dwRead = *static_cast<DWORD*>(info);
        SetEvent(p->m_hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        p->m_dwRead = length;
        SetEvent(p->m_hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        p->m_dwError = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
        SetEvent(p->m_hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        SetEvent(p->m_hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        p->Release();
        break;
    }
}

namespace {

// The user's proxy for `url`, empty for a direct request; the settings are read once.
// Blocks for as long as automatic detection and the configuration script take.
void ReadProxy(const std::string& url, CProxySettings& settings, CProxy& proxy)
{
    if (!settings.m_bRead) {
        settings.m_bRead = true;
        WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user = {};
        if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
            settings.m_strProxy = Narrowed(user.lpszProxy);
            settings.m_strBypass = Narrowed(user.lpszProxyBypass);
            if (user.lpszAutoConfigUrl)
                settings.m_strScript = user.lpszAutoConfigUrl;
            LPWSTR detected = nullptr;
            if (settings.m_strScript.empty() && user.fAutoDetect
                && WinHttpDetectAutoProxyConfigUrl(
                    WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &detected)
                && detected)
                settings.m_strScript = detected;
            GlobalFree(detected);
            GlobalFree(user.lpszAutoConfigUrl);
            GlobalFree(user.lpszProxy);
            GlobalFree(user.lpszProxyBypass);
        }
    }
    // What a configuration script names wins over a manual proxy.
    if (!settings.m_strScript.empty()) {
        const CInternet session(WinHttpOpen(L"Module_Client_Updater", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        WINHTTP_AUTOPROXY_OPTIONS options = {};
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = settings.m_strScript.c_str();
        options.fAutoLogonIfChallenged = FALSE; // the script's server is no proxy
        WINHTTP_PROXY_INFO info = {};
        const std::wstring wideUrl = Widen(url, CP_ACP);
        if (session && WinHttpGetProxyForUrl(session.get(), wideUrl.c_str(), &options, &info)) {
            if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
                proxy.m_strProxy = Narrowed(info.lpszProxy);
                proxy.m_strBypass = Narrowed(info.lpszProxyBypass);
            }
            GlobalFree(info.lpszProxy);
            GlobalFree(info.lpszProxyBypass);
            return;
        }
    }
    if (settings.m_strProxy.empty() || Bypassed(HostOf(url), settings.m_strBypass))
        return;
    proxy.m_strProxy = settings.m_strProxy;
    proxy.m_strBypass = settings.m_strBypass;
}

} // namespace

bool CUpdateEngine::ProxyFor(const std::string& url, CProxy& proxy)
{
    struct CFound {
        CProxySettings settings;
        CProxy proxy;
    };
    const auto found = std::make_shared<CFound>();
    found->settings = m_proxySettings;
    if (!LookUp([found, url] { ReadProxy(url, found->settings, found->proxy); }))
        return false;
    m_proxySettings = found->settings;
    proxy = found->proxy;
    return true;
}

int CUpdateEngine::SystemDownload(const char* firstUrl, CDownloadAttempt& attempt, std::int32_t maxLength,
                                  const CProxy& proxy)
{
    const std::wstring proxyName = Widen(proxy.m_strProxy, CP_ACP);
    const std::wstring resume = Widen(attempt.ResumeLines(), CP_ACP);
    std::string url = firstUrl;
    for (int moves = 0;; ++moves) {
        // Each step's route is decided here, once, by our own reading of the bypass list:
        // the stack gets the proxy or none, and only a step through it may answer a 407.
        const bool bViaProxy = !proxyName.empty() && !Bypassed(HostOf(url), proxy.m_strBypass);
        // Asynchronous: a blocked step must yield to a cancel at once, which closing the
        // handle of a synchronous request does not do everywhere.
        const CInternet session(
            WinHttpOpen(L"Module_Client_Updater",
                        bViaProxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
                        bViaProxy ? proxyName.c_str() : WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                        WINHTTP_FLAG_ASYNC));
        if (!session || !WinHttpSetTimeouts(session.get(), 0, kConnectMs, kTransferMs, kTransferMs))
            return DOWNLOAD_FAILED;
        // Windows 7's stack offers TLS 1.2 only when asked; one that knows no 1.3 refuses it.
        DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
        if (!g_pSetHttpOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
            protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
            g_pSetHttpOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
        }
        const std::wstring wideUrl = Widen(url, CP_ACP);
        URL_COMPONENTS parts = {};
        parts.dwStructSize = sizeof parts;
        parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
        if (!WinHttpCrackUrl(wideUrl.c_str(), 0, 0, &parts) || parts.dwHostNameLength == 0)
            return DOWNLOAD_FAILED;
        const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
        // The query goes as it is: the version query stays the server's to read.
        const std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength)
                                    + std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
        const CInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
        if (!connection)
            return DOWNLOAD_FAILED;
        const std::unique_ptr<CSystemRequest, CSystemRequest::CCloser> request(
            CSystemRequest::Open(*this, connection.get(), object, IsSecure(url) ? WINHTTP_FLAG_SECURE : 0),
            CSystemRequest::CCloser{this});
        if (!request)
            return DOWNLOAD_FAILED;
        const HINTERNET h = request->m_h;
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        // No logon goes out unasked: only a proxy's 407 below gets it.
        DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_HIGH;
        if (!g_pSetHttpOption(h, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never)
            || !g_pSetHttpOption(h, WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon))
            return DOWNLOAD_FAILED;

        // Waits for the step just begun: 0 when it completed, else the result to return.
        auto await = [&](BOOL begun) -> int {
            if (begun && !WaitOrCancel(request->m_hDone))
                return DOWNLOAD_CANCELLED;
            const DWORD error = begun ? request->m_dwError : GetLastError();
            attempt.m_bTimedOut = error == ERROR_WINHTTP_TIMEOUT;
            return error ? FailureCode(error) : 0;
        };
        if (m_bCancel)
            return DOWNLOAD_CANCELLED;

        attempt.Post(0);
        DWORD status = 0;
        for (bool bLogonSet = false;; bLogonSet = true) {
            if (const int rc = await(
                    WinHttpSendRequest(h, resume.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : resume.c_str(),
                                       static_cast<DWORD>(resume.size()), WINHTTP_NO_REQUEST_DATA, 0, 0,
                                       reinterpret_cast<DWORD_PTR>(request.get()))))
                return rc;
            if (!bLogonSet)
                attempt.Post(10);
            if (const int rc = await(WinHttpReceiveResponse(h, nullptr)))
                return rc;
            DWORD size = sizeof status;
            if (!WinHttpQueryHeaders(h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                     WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
                return DOWNLOAD_FAILED;
            // The user's logon goes to the user's proxy when it asks, once, and to nothing
            // else: a server that answers 407 to a direct request is posing as one.
            if (status != 407 || !bViaProxy || bLogonSet || !SetProxyLogon(h))
                break;
        }
        const bool moved = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        std::string next;
        // Followed a few times, and never from https down to http.
        if (moved && moves < kMaxMoves && MovedTo(url, HeaderText(h, WINHTTP_QUERY_LOCATION), next)
            && (IsSecure(next) || !IsSecure(url))) {
            url = next;
            continue;
        }
        attempt.m_nStatus = static_cast<int>(status);
        const bool bRest = status == 206 && attempt.m_file.Kept() > 0;
        // In CDownloadAttempt's order of its fields.
        const DWORD queries[] = {WINHTTP_QUERY_ETAG, WINHTTP_QUERY_LAST_MODIFIED, WINHTTP_QUERY_CONTENT_RANGE,
                                 WINHTTP_QUERY_RETRY_AFTER};
        for (int i = 0; i < CDownloadAttempt::FIELDS; ++i) {
            const std::string value = Narrowed(HeaderText(h, queries[i]).c_str());
            attempt.SetField(i, value.data(), value.size());
        }
        if (status != 200 && !bRest)
            return static_cast<int>(status);

        const std::wstring lengthText = HeaderText(h, WINHTTP_QUERY_CONTENT_LENGTH);
        wchar_t* end = nullptr;
        const long long length = lengthText.empty() ? -1 : wcstoll(lengthText.c_str(), &end, 10);
        if (length < 0 || length > 0x7FFFFFFF || (end && *end))
            return bRest ? 206 : DOWNLOAD_FAILED;
        if (bRest && !attempt.IsRest(length))
            return 206;
        if (!bRest) {
            m_nContentLength = static_cast<std::int32_t>(length);
            if (length > maxLength)
                return DOWNLOAD_FAILED;
        }
        attempt.Post(20);

        CBodyFile& file = attempt.m_file;
        if (!bRest && !attempt.Begin(static_cast<std::int32_t>(length)))
            return DOWNLOAD_FAILED;
        for (;;) {
            // Only what has come is asked for: a read of more may wait for it unwoken.
            if (const int rc = await(WinHttpQueryDataAvailable(h, nullptr)))
                return rc == DOWNLOAD_FAILED ? DOWNLOAD_TRANSFER : rc;
            if (request->m_dwRead == 0)
                break;
            const DWORD wanted = std::min(request->m_dwRead, kReadSize);
            if (const int rc = await(WinHttpReadData(h, request->m_buffer, wanted, nullptr)))
                return rc == DOWNLOAD_FAILED ? DOWNLOAD_TRANSFER : rc;
            if (request->m_dwRead == 0)
                break;
            // The stack hands over what came, whatever the length said: the file counts it.
            if (const int rc = file.Store(request->m_buffer, static_cast<std::int32_t>(request->m_dwRead)))
                return rc;
        }
        if (const int rc = file.Finish())
            return rc;
        attempt.Post(30);
        return DOWNLOAD_OK;
    }
}
