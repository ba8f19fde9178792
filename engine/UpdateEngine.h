// The update engine: configuration of one update run, the worker thread and the
// download counters. Owned by the main dialog; lives on the user-interface thread,
// while its worker reads the configuration and writes the three shared members.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/Handle.h"
#include "engine/StatusMessages.h"

#ifndef ERROR_ELEVATION_REQUIRED // missing from some SDKs' headers
#define ERROR_ELEVATION_REQUIRED 740L
#endif

// Where the user's settings send a request: empty for a direct connection, otherwise
// the proxy (and the names it is bypassed for) in the system's notation.
struct CProxy {
    std::string m_strProxy, m_strBypass;
};

// The user's proxy settings, read once per run: automatic detection may take seconds
// on a network without it.
struct CProxySettings {
    bool m_bRead = false;
    std::string m_strProxy, m_strBypass; // a manual proxy and its bypass list
    std::wstring m_strScript;            // a configuration script, set or detected
};

class CDownloadAttempt;

class CUpdateEngine {
public:
    CUpdateEngine();
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    // 0 success, 1 own path unusable, 2 main program version unreadable or out of
    // range, 3 Windows Sockets 2.2 unavailable. `installFolder` (with its final
    // backslash) holds the main program; empty means the updater's own folder. A
    // `policyUrl` (an administrator's) takes the place of the user's settings value.
    int Init(HWND hNotifyWnd, const std::string& installFolder = std::string(),
             const std::string& policyUrl = std::string());

    // Starts the worker: 0 started, 1 this engine already has (or had) a worker,
    // 2 the thread cannot be created (the user is told).
    int Start();

    // Sets the cancel flag and aborts a download blocked in the network at once.
    // Any thread.
    void Cancel();

    // Cancels and waits for the worker, if any, to end, without a time
    // limit but handling sent messages meanwhile. The destructor does the same.
    void Shutdown();

    // Fetches an "http://" or "https://" URL into path. Returns 200, another HTTP
    // status, or DOWNLOAD_FAILED / DOWNLOAD_TRANSFER / DOWNLOAD_CANCELLED. A body
    // announced longer than `maxLength` is DOWNLOAD_FAILED, and nothing is written.
    // A direct http:// request goes through the client's own socket (port 80);
    // https://, a proxy and a server that moved go through the system's HTTP stack.
    // What a flaky network breaks (a cut, a passing 5xx) is tried again, a cut body
    // resumed where the server allows; the result is the last attempt's.
    int HttpDownload(const char* url, const char* path, bool notify, std::int32_t maxLength = INT32_MAX);

    // Shared with the worker without a lock; each is read and written whole.
    std::atomic<bool> m_bCancel;
    std::atomic<std::int32_t> m_nContentLength;
    std::atomic<std::int32_t> m_nReceived;

    CHandle m_hThread;
    HWND m_hNotifyWnd;
    std::string m_strFolder;        // where the run writes; ends with a backslash
    std::string m_strInstallFolder; // where the main program is; ends with a backslash
    std::string m_strModuleName;    // file name of the running updater
    std::string m_strInfoUrl;       // update-info URL with the version query
    DWORD m_dwVersion;              // major << 24 | minor << 16 | third component

private:
    friend class CDownloadSocket;
    friend class CSystemRequest;
    int DirectDownload(const char* url, CDownloadAttempt& attempt, std::int32_t maxLength);
    int SystemDownload(const char* url, CDownloadAttempt& attempt, std::int32_t maxLength,
                       const CProxy& proxy);
    // The user's proxy for `url`, empty when the request goes directly; false on a cancel.
    bool ProxyFor(const std::string& url, CProxy& proxy);
    // Waits for `h` (or only for a cancel, when it is null) at most `ms`; false on a cancel.
    bool WaitOrCancel(HANDLE h, DWORD ms = INFINITE);
    // Runs a lookup that no closed socket wakes (the resolver, the proxy script) on a
    // short-lived thread, so a cancel need not wait for it. It may outlive the wait and
    // the engine: it owns what it reads and writes. False on a cancel.
    bool LookUp(std::function<void()> lookup);

    CProxySettings m_proxySettings;

    std::mutex m_socketLock; // guards m_socket and m_hRequest between the worker and Cancel
    SOCKET m_socket = INVALID_SOCKET;
    void* m_hRequest = nullptr; // the system stack's request in progress
    HANDLE m_hCancelEvent;      // set with m_bCancel by Cancel, cleared by Start
};

// Whether HttpDownload takes a URL at all: "http://" or "https://", as written, and a
// host after it.
bool IsDownloadUrl(const std::string& url);

// One whole update run on the worker thread; `param` is the engine. Returns 0
// when the run ends with UM_UPDATE_RESULT, 1 when it ends with a failure.
DWORD WINAPI UpdateThreadProc(LPVOID param);

namespace engine_detail {
// The update-info URL used without a settings value (its host is a build option).
extern const char* const kDefaultInfoUrl;
// How the worker starts packages. Tests put in starts that fail as Windows does for
// a package that needs elevation and for a refused prompt, which Wine cannot show.
extern decltype(&CreateProcessA) g_pCreateProcess;
extern decltype(&ShellExecuteExA) g_pShellExecuteEx;
// How the system's HTTP route sets an option, and frees a request. Tests cancel after
// each option and poison what is freed: Wine gives no other handle on those races.
extern BOOL(WINAPI* g_pSetHttpOption)(void* hInternet, DWORD option, void* buffer, DWORD length);
extern void (*g_pFreeRequest)(void* p, size_t size);
// How long a second of a retry's wait lasts, in milliseconds: tests shorten it.
extern DWORD g_dwRetrySecondMs;
} // namespace engine_detail
