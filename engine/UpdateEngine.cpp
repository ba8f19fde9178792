#include "engine/UpdateEngine.h"

#include <winhttp.h>

#include "engine/UpdateLog.h"
#include "engine/VersionResource.h"
#include "framework/UserText.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace engine_detail {
const char* const kDefaultInfoUrl = "http://" UPDATER_UPDATE_HOST "/download/update_info.php";
} // namespace engine_detail

using engine_detail::kDefaultInfoUrl;

namespace {
// A lookup's own thread, which deletes the lookup when it is done.
DWORD WINAPI RunLookup(LPVOID param)
{
    const std::unique_ptr<std::function<void()>> lookup(static_cast<std::function<void()>*>(param));
    (*lookup)();
    return 0;
}

const char kSettingsKey[] = "Software\\Vantorel\\Vantorel\\Settings";
const char kSettingsValue[] = "UpdateSvrUrl";

// Splits the module's path; false when it has no backslash after its first character.
bool SplitModulePath(const std::string& full, std::string& folder, std::string& name)
{
    const size_t slash = full.rfind('\\');
    if (slash == std::string::npos || slash == 0)
        return false;
    name = full.substr(slash + 1);
    folder = full.substr(0, slash + 1);
    return true;
}

// The packed version major << 24 | minor << 16 | third, or false when major or minor
// exceeds 255.
bool PackVersion(DWORD productVersionMS, DWORD productVersionLS, DWORD& packed)
{
    const DWORD major = HIWORD(productVersionMS);
    const DWORD minor = LOWORD(productVersionMS);
    const DWORD third = HIWORD(productVersionLS);
    if (major > 255 || minor > 255)
        return false;
    packed = (major << 24) | (minor << 16) | third;
    return true;
}

// The value's text up to its first NUL, or false when it is missing, too long, or
// fills the buffer without a terminating NUL (nothing past the buffer is ever read).
// A shorter value stored without its NUL, as some installers write it, is whole.
bool ReadSettingsUrl(std::string& url)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    char buffer[300];
    DWORD size = sizeof buffer;
    const LONG rc =
        RegQueryValueExA(key, kSettingsValue, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS)
        return false;
    const void* nul = memchr(buffer, '\0', size);
    if (!nul && size == sizeof buffer)
        return false;
    url.assign(buffer, nul ? static_cast<const char*>(nul) - buffer : size);
    return true;
}

// Product version of a file's fixed version information.
bool ReadProductVersion(const std::string& file, DWORD& ms, DWORD& ls)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()))
        return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || !info
        || infoSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    ms = info->dwProductVersionMS;
    ls = info->dwProductVersionLS;
    return true;
}
} // namespace

CUpdateEngine::CUpdateEngine()
    : m_bCancel(false), m_nContentLength(-1), m_nReceived(0), m_hNotifyWnd(nullptr), m_dwVersion(0),
      m_hCancelEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr))
{
}

CUpdateEngine::~CUpdateEngine()
{
    Shutdown();
    CloseHandle(m_hCancelEvent);
}

void CUpdateEngine::Cancel()
{
    const std::lock_guard<std::mutex> lock(m_socketLock);
    m_bCancel = true;
    SetEvent(m_hCancelEvent);
    // Closing the socket wakes a connect, send or receive that would otherwise sit
    // out its time-out; the download then finds the flag set.
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    if (m_hRequest) {
        WinHttpCloseHandle(m_hRequest);
        m_hRequest = nullptr;
    }
}

bool CUpdateEngine::WaitOrCancel(HANDLE h, DWORD ms)
{
    const HANDLE events[] = {m_hCancelEvent, h};
    for (;;) {
        if (m_bCancel)
            return false;
        const DWORD woken = WaitForMultipleObjects(h ? 2 : 1, events, FALSE, ms);
        if (woken == WAIT_OBJECT_0 + 1 || woken == WAIT_TIMEOUT)
            return !m_bCancel;
        if (woken != WAIT_OBJECT_0)
            return false;
        ResetEvent(m_hCancelEvent); // left from a cancel whose flag was cleared since
    }
}

bool CUpdateEngine::LookUp(std::function<void()> lookup)
{
    auto* const job = new std::function<void()>(std::move(lookup));
    const HANDLE thread = CreateThread(nullptr, 0, RunLookup, job, 0, nullptr);
    if (!thread) {
        RunLookup(job);
        return !m_bCancel;
    }
    const bool done = WaitOrCancel(thread);
    CloseHandle(thread);
    return done;
}

void CUpdateEngine::Shutdown()
{
    Cancel();
    if (!m_hThread.IsValid())
        return;
    // No time limit, but sent messages are handled: the worker's question box is owned
    // by a window of this thread, which must answer while the box closes.
    const HANDLE thread = m_hThread;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

int CUpdateEngine::Init(HWND hNotifyWnd, const std::string& installFolder, const std::string& policyUrl)
{
    if (!policyUrl.empty())
        m_strInfoUrl = policyUrl;
    else if (!ReadSettingsUrl(m_strInfoUrl))
        m_strInfoUrl = kDefaultInfoUrl;
    m_hNotifyWnd = hNotifyWnd;

    std::string path;
    if (!ModulePath(path) || !SplitModulePath(path, m_strFolder, m_strModuleName))
        return 1;

    m_strInstallFolder = installFolder.empty() ? m_strFolder : installFolder;

    DWORD ms = 0, ls = 0;
    if (!ReadProductVersion(m_strInstallFolder + "Vantorel.exe", ms, ls)
        || !PackVersion(ms, ls, m_dwVersion)) {
        LogEvent("set-up-failed", {{"installation", m_strInstallFolder}, {"reason", "main program version"}});
        return 2;
    }

    m_strInfoUrl += "?v=" + HexText(m_dwVersion, 8);
    LogEvent("set-up", {{"installation", m_strInstallFolder},
                        {"version", VersionText(static_cast<ULONGLONG>(ms) << 32 | ls)},
                        {"url", m_strInfoUrl, CLogFact::URL}});

    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0)
        return 3;
    if (LOBYTE(wsa.wVersion) != 2 || HIBYTE(wsa.wVersion) != 2) {
        WSACleanup();
        return 3;
    }
    return 0;
}
