// The route through the system's HTTP stack (WinHTTP): https://, requests the user's
// settings send through a proxy, and servers that moved. Same contract as the direct
// client: result codes, phase posts, counters, cancel, nothing left after a failure.
#include "engine/UpdateEngine.h"

#include <winhttp.h>

#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "engine/BodyFile.h"
#include "framework/UserText.h"

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

// The narrow form of a URL the server named; false when it cannot be carried.
bool Narrow(const std::wstring& wide, std::string& narrow)
{
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, &usedDefault);
    if (n <= 0 || usedDefault)
        return false;
    narrow.assign(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &narrow[0], n, nullptr,
                        nullptr);
    return true;
}

// The absolute URL a Location names, relative to `base`; false when there is none.
bool MovedTo(const std::string& base, const std::wstring& location, std::string& url)
{
    std::string target;
    if (location.empty() || !Narrow(location, target))
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

// What one request shares with the stack's callbacks. It lives until both the worker
// has let go of it and the stack has reported the request's handle closing, which may
// come later: a cancel closes the handle and does not wait for the stack.
struct CRequestContext {
    CRequestContext() : hDone(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~CRequestContext() { CloseHandle(hDone); }
    CRequestContext(const CRequestContext&) = delete;
    CRequestContext& operator=(const CRequestContext&) = delete;
    void Release()
    {
        if (--refs == 0)
            delete this;
    }

    const HANDLE hDone; // a step of the stack completed or failed
    DWORD dwError = 0;
    DWORD dwRead = 0; // bytes available, then bytes read
    std::atomic<int> refs{1};
    char buffer[kReadSize];
};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length)
{
    auto* p = reinterpret_cast<CRequestContext*>(context);
    if (!p)
        return;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        p->dwRead = *static_cast<DWORD*>(info);
        SetEvent(p->hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        p->dwRead = length;
        SetEvent(p->hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        p->dwError = static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError;
        SetEvent(p->hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        SetEvent(p->hDone);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        p->Release();
        break;
    }
}

std::string Narrowed(const wchar_t* text)
{
    std::string narrow;
    return text && Narrow(text, narrow) ? narrow : std::string();
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

// The request in progress, known to the engine so that Cancel can close it from the
// interface thread; closed here unless Cancel did.
class CCancellable {
public:
    CCancellable(CUpdateEngine& engine, HINTERNET h) : m_engine(engine), m_h(h)
    {
        const std::lock_guard<std::mutex> lock(m_engine.m_socketLock);
        m_engine.m_hRequest = m_h;
    }
    ~CCancellable()
    {
        const std::lock_guard<std::mutex> lock(m_engine.m_socketLock);
        if (m_h && m_engine.m_hRequest == m_h)
            WinHttpCloseHandle(m_h);
        m_engine.m_hRequest = nullptr;
    }
    CCancellable(const CCancellable&) = delete;
    CCancellable& operator=(const CCancellable&) = delete;
    HINTERNET Get() const { return m_h; }

private:
    CUpdateEngine& m_engine;
    const HINTERNET m_h;
};

bool CUpdateEngine::ProxyFor(const std::string& url, CProxy& proxy)
{
    CProxySettings& settings = m_proxySettings;
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
        options.fAutoLogonIfChallenged = TRUE;
        WINHTTP_PROXY_INFO info = {};
        const std::wstring wideUrl = Widen(url, CP_ACP);
        if (session && WinHttpGetProxyForUrl(session.get(), wideUrl.c_str(), &options, &info)) {
            if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy) {
                proxy.m_strProxy = Narrowed(info.lpszProxy);
                proxy.m_strBypass = Narrowed(info.lpszProxyBypass);
            }
            GlobalFree(info.lpszProxy);
            GlobalFree(info.lpszProxyBypass);
            return !proxy.m_strProxy.empty();
        }
    }
    if (settings.m_strProxy.empty())
        return false;
    const size_t hostStart = url.find("://") + 3;
    const std::string host = url.substr(hostStart, url.find_first_of(":/?", hostStart) - hostStart);
    if (Bypassed(host, settings.m_strBypass))
        return false;
    proxy.m_strProxy = settings.m_strProxy;
    proxy.m_strBypass = settings.m_strBypass;
    return true;
}

int CUpdateEngine::SystemDownload(const char* firstUrl, const char* path, bool notify, std::int32_t maxLength,
                                  const CProxy& proxy)
{
    auto post = [&](WPARAM phase) {
        if (notify)
            PostMessageA(m_hNotifyWnd, UM_TRANSFER_STATE, phase, 0);
    };
    const std::wstring proxyName = Widen(proxy.m_strProxy, CP_ACP), bypass = Widen(proxy.m_strBypass, CP_ACP);
    // Asynchronous: a blocked step must yield to a cancel at once, which closing the
    // handle of a synchronous request does not do everywhere.
    const CInternet session(
        WinHttpOpen(L"Module_Client_Updater",
                    proxyName.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                    proxyName.empty() ? WINHTTP_NO_PROXY_NAME : proxyName.c_str(),
                    bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), WINHTTP_FLAG_ASYNC));
    if (!session || !WinHttpSetTimeouts(session.get(), 0, kConnectMs, kTransferMs, kTransferMs))
        return DOWNLOAD_FAILED;

    std::string url = firstUrl;
    for (int moves = 0;; ++moves) {
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
        const CCancellable request(*this, WinHttpOpenRequest(connection.get(), L"GET",
                                                             object.empty() ? L"/" : object.c_str(), nullptr,
                                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                             IsSecure(url) ? WINHTTP_FLAG_SECURE : 0));
        if (!request.Get())
            return DOWNLOAD_FAILED;
        CRequestContext* const context = new CRequestContext;
        const std::unique_ptr<CRequestContext, void (*)(CRequestContext*)> hold(
            context, [](CRequestContext* p) { p->Release(); });
        DWORD_PTR contextValue = reinterpret_cast<DWORD_PTR>(context);
        if (WinHttpSetStatusCallback(request.Get(), OnRequestStatus,
                                     WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0)
                == WINHTTP_INVALID_STATUS_CALLBACK
            || !WinHttpSetOption(request.Get(), WINHTTP_OPTION_CONTEXT_VALUE, &contextValue,
                                 sizeof contextValue))
            return DOWNLOAD_FAILED;
        ++context->refs; // the stack's, released when it reports the handle closing
        DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
        // The logon of the user, where a proxy asks for it and accepts it; nothing prompts.
        DWORD logon = WINHTTP_AUTOLOGON_SECURITY_LEVEL_LOW;
        if (!WinHttpSetOption(request.Get(), WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never))
            return DOWNLOAD_FAILED;
        WinHttpSetOption(request.Get(), WINHTTP_OPTION_AUTOLOGON_POLICY, &logon, sizeof logon);

        // Waits for the step just begun: 0 when it completed, else the result to return.
        auto await = [&](BOOL begun) -> int {
            if (!begun)
                return FailureCode(GetLastError());
            const HANDLE events[] = {context->hDone, m_hCancelEvent};
            for (;;) {
                const DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
                if (m_bCancel || (woken != WAIT_OBJECT_0 && woken != WAIT_OBJECT_0 + 1))
                    return DOWNLOAD_CANCELLED;
                if (woken == WAIT_OBJECT_0)
                    return context->dwError ? FailureCode(context->dwError) : 0;
                ResetEvent(m_hCancelEvent); // left from a cancel whose flag was cleared since
            }
        };
        if (m_bCancel)
            return DOWNLOAD_CANCELLED;

        post(0);
        if (const int rc = await(WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                    WINHTTP_NO_REQUEST_DATA, 0, 0, contextValue)))
            return rc;
        post(10);
        if (const int rc = await(WinHttpReceiveResponse(request.Get(), nullptr)))
            return rc;

        DWORD status = 0, size = sizeof status;
        if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            return DOWNLOAD_FAILED;
        const bool moved = status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        std::string next;
        // Followed a few times, and never from https down to http.
        if (moved && moves < kMaxMoves
            && MovedTo(url, HeaderText(request.Get(), WINHTTP_QUERY_LOCATION), next)
            && (IsSecure(next) || !IsSecure(url))) {
            url = next;
            continue;
        }
        if (status != 200)
            return static_cast<int>(status);

        const std::wstring lengthText = HeaderText(request.Get(), WINHTTP_QUERY_CONTENT_LENGTH);
        wchar_t* end = nullptr;
        const long long length = lengthText.empty() ? -1 : wcstoll(lengthText.c_str(), &end, 10);
        if (length < 0 || length > 0x7FFFFFFF || (end && *end))
            return DOWNLOAD_FAILED;
        m_nContentLength = static_cast<std::int32_t>(length);
        if (length > maxLength)
            return DOWNLOAD_FAILED;
        post(20);

        CBodyFile file(path, m_nContentLength, m_nReceived);
        if (!file.IsOpen())
            return DOWNLOAD_FAILED;
        for (;;) {
            // Only what has come is asked for: a read of more may wait for it unwoken.
            if (const int rc = await(WinHttpQueryDataAvailable(request.Get(), nullptr)))
                return file.Discard(rc == DOWNLOAD_FAILED ? DOWNLOAD_TRANSFER : rc);
            if (context->dwRead == 0)
                break;
            const DWORD wanted = std::min(context->dwRead, kReadSize);
            if (const int rc = await(WinHttpReadData(request.Get(), context->buffer, wanted, nullptr)))
                return file.Discard(rc == DOWNLOAD_FAILED ? DOWNLOAD_TRANSFER : rc);
            if (context->dwRead == 0)
                break;
            // The stack hands over what came, whatever the length said: the file counts it.
            if (const int rc = file.Store(context->buffer, static_cast<std::int32_t>(context->dwRead)))
                return file.Discard(rc);
        }
        if (const int rc = file.Finish())
            return rc;
        post(30);
        return DOWNLOAD_OK;
    }
}
