#include "TestSupport.h"
#include "framework/UserText.h"
#include "framework/WinApp.h"

#include <shellapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string ExeFolder()
{
    char path[MAX_PATH];
    const std::string s(path, ::GetModuleFileNameA(nullptr, path, MAX_PATH));
    return s.substr(0, s.rfind('\\') + 1);
}

std::string MakeTempFolder(const char* prefix)
{
    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    for (unsigned n = ::GetCurrentProcessId() * 1000 + ::GetTickCount() % 1000;; ++n) {
        const std::string folder = temp + (prefix + std::to_string(n));
        if (::CreateDirectoryA(folder.c_str(), nullptr))
            return folder + "\\";
    }
}

void RemoveFolder(const std::string& folder)
{
    std::string from = folder.substr(0, folder.find_last_not_of('\\') + 1) + '\0'; // double-NUL-ended
    SHFILEOPSTRUCTA op = {
        nullptr, FO_DELETE, from.c_str(), nullptr, FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI,
        FALSE,   nullptr,   nullptr};
    ::SHFileOperationA(&op);
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ShortForm(const std::string& path)
{
    char shortPath[MAX_PATH];
    const DWORD n = ::GetShortPathNameA(path.c_str(), shortPath, MAX_PATH);
    return n > 0 && n < MAX_PATH && path != shortPath ? shortPath : "";
}

std::string ReadFileBytes(const std::string& path)
{
    std::ostringstream out;
    out << std::ifstream(path, std::ios::binary).rdbuf();
    return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string Ansi(const wchar_t* text)
{
    char bytes[1024];
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return std::string(bytes, n > 0 ? n - 1 : 0);
}

bool PumpUntil(const std::function<bool()>& done, DWORD ms)
{
    for (const DWORD start = ::GetTickCount(); !done() && ::GetTickCount() - start < ms;) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        for (MSG msg; ::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);) {
            if (CWinApp::IsControlParentKey(&msg))
                continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    return done();
}

std::vector<Posted> TransferPhases(WPARAM last)
{
    std::vector<Posted> phases;
    for (WPARAM p = 0; p <= last; p += 10)
        phases.push_back({UM_TRANSFER_STATE, p, 0});
    return phases;
}

LRESULT CRecorder::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER && message < 0x8000)
        m_seen.push_back({message, wParam, lParam});
    return CWnd::WindowProc(message, wParam, lParam);
}

std::vector<Posted> CRecorder::Take()
{
    for (MSG msg; ::PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE);)
        ::DispatchMessageA(&msg);
    return std::exchange(m_seen, {});
}

CFake::~CFake()
{
    if (m_h) {
        ::TerminateProcess(m_h, 0xDEAD);
        ::WaitForSingleObject(m_h, 10000);
        ::CloseHandle(m_h);
    }
}

std::vector<DWORD> ProcessIds(const char* exeName)
{
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    std::vector<DWORD> ids;
    for (BOOL more = ::Process32First(snapshot, &entry); more; more = ::Process32Next(snapshot, &entry))
        if (!exeName || ::lstrcmpiA(entry.szExeFile, exeName) == 0)
            ids.push_back(entry.th32ProcessID);
    ::CloseHandle(snapshot);
    return ids;
}

HWND FindTopWindow(const std::function<bool(HWND)>& match)
{
    HWND hWnd = nullptr;
    do
        hWnd = ::FindWindowExA(nullptr, hWnd, nullptr, nullptr);
    while (hWnd && !(::IsWindowVisible(hWnd) && match(hWnd)));
    return hWnd;
}

CFake StartProgram(const std::string& path, const std::string& arguments)
{
    // By its long path, as the user's shell starts it, whatever the code page can name.
    std::wstring wide = Widen(path, CP_ACP);
    wchar_t longPath[MAX_PATH];
    const DWORD n = ::GetLongPathNameW(wide.c_str(), longPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
        wide = longPath;
    std::wstring commandLine = L"\"" + wide + L"\" " + Widen(arguments, CP_ACP);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(wide.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                          &pi))
        return CFake();
    ::CloseHandle(pi.hThread);
    // Programs are found by a process snapshot: wait until the new one is in it.
    PumpUntil(
        [&] {
            const std::vector<DWORD> ids = ProcessIds();
            return std::find(ids.begin(), ids.end(), pi.dwProcessId) != ids.end();
        },
        10000);
    return CFake(pi.hProcess);
}

CFake StartFake(const std::string& folder, const std::string& name, const char* args, const char* source)
{
    ::CreateDirectoryA(folder.c_str(), nullptr);
    const std::string path = folder + "\\" + name;
    // A program already running there is started once more.
    if (!::CopyFileA((ExeFolder() + source).c_str(), path.c_str(), FALSE)
        && ::GetLastError() != ERROR_SHARING_VIOLATION)
        return CFake();
    return StartProgram(path, args);
}

void SetServerSetting(const std::string& bytes, DWORD type)
{
    const char kKey[] = "Software\\Vantorel\\Vantorel\\Settings", kValue[] = "UpdateSvrUrl";
    if (bytes.empty())
        ::RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, kValue);
    else
        ::RegSetKeyValueA(HKEY_CURRENT_USER, kKey, kValue, type, bytes.data(),
                          static_cast<DWORD>(bytes.size()));
}

std::string FixtureFolder(const char* variable)
{
    const char* folder = std::getenv(variable);
    if (!folder) {
        std::fprintf(stderr, "run through ctest: a fixture sets %s\n", variable);
        std::abort();
    }
    std::string path = "Z:" + std::string(folder) + "/";
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// A window's text as code-page-936 bytes, read through the wide call: right
// whatever the system's code page.
static std::string Text936(HWND hWnd)
{
    wchar_t wide[1024] = L"";
    const int n = ::GetWindowTextW(hWnd, wide, 1024);
    char text[2048] = "";
    return std::string(text, ::WideCharToMultiByte(936, 0, wide, n, text, sizeof text, nullptr, nullptr));
}

CBoxWatcher::CBoxWatcher(std::function<int(size_t)> answer, size_t scripted, std::vector<HANDLE> fallback)
    : m_thread([this, answer, scripted, fallback] {
          for (; !m_stop; ::Sleep(10)) {
              const HWND box = FindTopWindow([](HWND hWnd) {
                  char cls[16] = "";
                  ::GetClassNameA(hWnd, cls, sizeof cls);
                  return strcmp(cls, "#32770") == 0 && ::GetDlgItem(hWnd, 0xFFFF);
              });
              if (!box)
                  continue;
              std::unique_lock<std::mutex> lock(m_mutex);
              const size_t index = m_boxes.size();
              m_boxes.push_back({Text936(box), Text936(::GetDlgItem(box, 0xFFFF))});
              lock.unlock();
              for (HANDLE p : index < scripted ? std::vector<HANDLE>() : fallback) {
                  ::TerminateProcess(p, 0xBAD);
                  ::WaitForSingleObject(p, 10000);
              }
              ::SendMessageA(::GetDlgItem(box, index < scripted ? answer(index) : IDNO), BM_CLICK, 0, 0);
              while (::IsWindow(box) && !m_stop)
                  ::Sleep(10);
          }
      })
{
}

CTestServer::CTestServer(const char* address) : m_hResume(::CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    WSADATA wsa;
    ::WSAStartup(MAKEWORD(2, 2), &wsa);
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = ::htons(80);
    a.sin_addr.s_addr = ::inet_addr(address);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 16) != 0) {
        std::fprintf(stderr, "test server: cannot listen on %s:80 (%d)\n", address, ::WSAGetLastError());
        std::abort();
    }
    m_thread = std::thread([this] {
        for (SOCKET client; (client = ::accept(m_listen, nullptr, nullptr)) != INVALID_SOCKET;) {
            const auto timeout = [client](DWORD ms) {
                ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
            };
            // A request without its blank line must not hang the test: a whole one comes at once.
            timeout(500);
            std::string request;
            char chunk[512];
            for (int n;
                 request.find("\r\n\r\n") == std::string::npos && (n = ::recv(client, chunk, 512, 0)) > 0;) {
                request.append(chunk, n);
                if (request.size() >= 2 && request.compare(request.size() - 2, 2, "\r\n") == 0)
                    timeout(100); // after a whole line, the blank one would have come with it
            }
            Reply reply;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_requests.push_back(request);
                if (!m_replies.empty()) {
                    reply = m_replies.front();
                    m_replies.erase(m_replies.begin());
                }
            }
            const std::string& b = reply.bytes;
            for (size_t at = 0, n; at < b.size(); at += n) {
                if (at == reply.pauseAt)
                    ::WaitForSingleObject(m_hResume, INFINITE); // until Resume() or the end of the server
                n = std::min({reply.chunk ? reply.chunk : b.size(), b.size() - at,
                              at < reply.pauseAt ? reply.pauseAt - at : b.size()});
                if (::send(client, b.data() + at, static_cast<int>(n), 0) != static_cast<int>(n))
                    break;
            }
            const linger abortive = {1, 0};
            if (reply.reset)
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
                             sizeof abortive);
            else
                ::shutdown(client, SD_SEND);
            ::closesocket(client);
        }
    });
}

CTestServer::~CTestServer()
{
    ::SetEvent(m_hResume);
    ::closesocket(m_listen); // wakes accept
    m_thread.join();
    ::CloseHandle(m_hResume);
    ::WSACleanup();
}
