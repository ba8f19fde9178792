#include "TestHttpServer.h"

#include <shellapi.h>

#include <cstdio>
#include <fstream>
#include <sstream>

CTestHttpServer::CTestHttpServer(const char* address)
    : m_address(address), m_hStop(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      m_hResume(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      m_hProgress(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    BOOL reuse = TRUE;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    a.sin_addr.s_addr = inet_addr(address);
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0) {
        fprintf(stderr, "test server: cannot listen on %s:80 (%d)\n", address, WSAGetLastError());
        closesocket(s);
        return;
    }
    m_listen = s;
    m_thread = std::thread(&CTestHttpServer::Serve, this);
}

CTestHttpServer::~CTestHttpServer()
{
    SetEvent(m_hStop);
    if (m_listen != INVALID_SOCKET)
        closesocket(m_listen); // wakes accept
    if (m_thread.joinable())
        m_thread.join();
    CloseHandle(m_hStop);
    CloseHandle(m_hResume);
    CloseHandle(m_hProgress);
    WSACleanup();
}

void CTestHttpServer::Respond(Script script)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_scripts.push_back(std::move(script));
}

void CTestHttpServer::RespondOk(const std::string& body, size_t chunk)
{
    Respond({Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n"),
             Send(body, chunk)});
}

void CTestHttpServer::Resume()
{
    SetEvent(m_hResume);
}

std::vector<std::string> CTestHttpServer::Requests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void CTestHttpServer::WaitForPauses(int n)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_nPaused >= n)
                return;
        }
        WaitForSingleObject(m_hProgress, 100);
    }
}

int CTestHttpServer::PausesReached()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nPaused;
}

void CTestHttpServer::Serve()
{
    for (;;) {
        SOCKET client = accept(m_listen, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            return; // listening socket closed: stopping
        std::string request;
        char chunk[512];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int n = recv(client, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            request.append(chunk, n);
        }
        Script script;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
            if (!m_scripts.empty()) {
                script = std::move(m_scripts.front());
                m_scripts.pop_front();
            }
        }
        Play(client, script);
    }
}

void CTestHttpServer::Play(SOCKET client, const Script& script)
{
    auto paused = [&]() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nPaused;
        SetEvent(m_hProgress);
    };
    bool reset = false;
    for (const Step& step : script) {
        if (step.kind == Step::Send) {
            const size_t chunk = step.chunk ? step.chunk : step.bytes.size();
            for (size_t at = 0; at < step.bytes.size(); at += chunk) {
                const int n = static_cast<int>(std::min(chunk, step.bytes.size() - at));
                if (send(client, step.bytes.data() + at, n, 0) != n)
                    break;
            }
        } else if (step.kind == Step::Pause) {
            paused();
            HANDLE events[] = {m_hResume, m_hStop};
            if (WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0)
                break;
        } else if (step.kind == Step::Reset) {
            reset = true;
            break;
        } else {
            break;
        }
    }
    if (reset) {
        linger l = {1, 0};
        setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    } else {
        shutdown(client, SD_SEND);
    }
    closesocket(client);
}

std::string ExeFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.rfind('\\') + 1);
}

std::string MakeTempFolder(const char* prefix)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (unsigned n = GetCurrentProcessId() * 1000 + GetTickCount() % 1000;; ++n) {
        std::string folder = std::string(temp) + prefix + std::to_string(n);
        if (CreateDirectoryA(folder.c_str(), nullptr))
            return folder + "\\";
    }
}

void RemoveFolder(const std::string& folder)
{
    std::string from = folder;
    if (!from.empty() && from.back() == '\\')
        from.pop_back();
    from.push_back('\0'); // double-NUL-ended list
    SHFILEOPSTRUCTA op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    SHFileOperationA(&op);
}

std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
