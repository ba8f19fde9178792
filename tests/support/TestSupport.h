// What the tests share: temporary folders and files, a bounded message pump, a window
// that records posted status messages, processes and top-level windows found and
// started, a watcher that answers question boxes, the settings value, the nginx
// fixture's site and a scriptable HTTP server.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "engine/StatusMessages.h"
#include "framework/Wnd.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

std::string ExeFolder(); // with a final backslash
std::string MakeTempFolder(const char* prefix);
void RemoveFolder(const std::string& folder);
bool FileExists(const std::string& path);
// The 8.3 short form of an existing path; empty when it has none of its own.
std::string ShortForm(const std::string& path);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// A text in the system's ANSI code page.
std::string Ansi(const wchar_t* text);
// The Linux folder that a ctest fixture names in `variable`, as a Windows path with a
// final backslash; the run ends when it is not set.
std::string FixtureFolder(const char* variable);

// Dispatches this thread's messages until done() holds or `ms` have passed (a bound
// against hangs, not a speed goal); returns done().
bool PumpUntil(const std::function<bool()>& done, DWORD ms = 30000);

// A message as posted: message, wParam, lParam.
using Posted = std::tuple<UINT, WPARAM, LPARAM>;

// The transfer phases a download posts when it gets as far as `last`.
std::vector<Posted> TransferPhases(WPARAM last = 30);

// A message-only window keeping the WM_USER-range messages dispatched to it.
class CRecorder : public CWnd {
public:
    CRecorder() { CreateEx(0, RegisterWndClass(0).c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr); }
    std::vector<Posted> Take(); // what arrived so far, pending messages included

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    std::vector<Posted> m_seen;
};

// Ids of the running processes whose file name is `exeName` (any case); all of them
// when it is null.
std::vector<DWORD> ProcessIds(const char* exeName = nullptr);
// The first visible top-level window that `match` accepts, or null.
HWND FindTopWindow(const std::function<bool(HWND)>& match);

// A started program: ended, if it still runs, and released when the object goes, so
// a failed test leaves nothing running.
class CFake {
public:
    explicit CFake(HANDLE h = nullptr) : m_h(h) {}
    CFake(CFake&& other) noexcept : m_h(std::exchange(other.m_h, nullptr)) {}
    ~CFake();
    operator HANDLE() const { return m_h; }

private:
    HANDLE m_h;
};

// `path` started with `arguments`, listed among the processes when it returns; null
// on failure.
CFake StartProgram(const std::string& path, const std::string& arguments);
// A copy of the fake program (or of `source`, beside the tests) as <folder>\<name>,
// started with `args` ("wait": until ended; a number: for that many milliseconds).
// Null on failure.
CFake StartFake(const std::string& folder, const std::string& name, const char* args = "wait",
                const char* source = "fake_noversion.exe");

// Stores the update server's settings value byte for byte; empty removes it. The Wine
// prefix is the build tree's own, so nothing of the user's is touched.
void SetServerSetting(const std::string& bytes, DWORD type = REG_SZ);

// The document root of the nginx fixture (E2E_WWW) as Windows paths; what a test
// publishes there goes with it.
class CNginxSite {
public:
    CNginxSite() : m_root(FixtureFolder("E2E_WWW")), m_download(m_root + "download\\") {}
    ~CNginxSite()
    {
        for (const std::string& path : m_published)
            ::DeleteFileA(path.c_str());
    }
    void Publish(const std::string& name, const std::string& bytes) // as download\<name>
    {
        WriteFileBytes(m_download + name, bytes);
        m_published.push_back(m_download + name);
    }
    std::string Log() const { return ReadFileBytes(m_root + "..\\access.log"); }
    std::string m_root, m_download; // with a final backslash

private:
    std::vector<std::string> m_published;
};

// Answers message boxes of any process from a thread of its own: the i-th box gets
// answer(i). Past `scripted` boxes it ends the `fallback` programs and answers No, so
// a run that keeps asking still ends. Records caption and text of each box, read
// through the wide calls, as code-page-936 bytes.
class CBoxWatcher {
public:
    struct Box {
        std::string caption, text;
    };
    CBoxWatcher(std::function<int(size_t)> answer, size_t scripted, std::vector<HANDLE> fallback);
    ~CBoxWatcher()
    {
        m_stop = true;
        m_thread.join();
    }
    std::vector<Box> Boxes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_boxes;
    }

private:
    std::mutex m_mutex;
    std::vector<Box> m_boxes;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// An HTTP server inside the test process on <address>:80. Each connection's request
// is recorded (up to its blank line, or what came within half a second) and answered
// with the next queued reply.
class CTestServer {
public:
    struct Reply {
        std::string bytes;
        size_t chunk = 0;                   // bytes per send, 0 for all at once
        size_t pauseAt = std::string::npos; // holds the rest back until Resume()
        bool reset = false;                 // an abortive close instead of a graceful one
    };
    explicit CTestServer(const char* address);
    ~CTestServer();
    void Queue(const Reply& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_replies.push_back(reply);
    }
    void Resume() { ::SetEvent(m_hResume); } // also before the pause is reached
    std::vector<std::string> Requests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }

private:
    SOCKET m_listen;
    HANDLE m_hResume;
    std::mutex m_mutex;
    std::vector<Reply> m_replies;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};
