// A scriptable HTTP server for tests, inside the test process on <address>:80.
// Each accepted connection reads the request up to its blank line, records it,
// then plays the next queued script: sends, pauses and closes in order.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CTestHttpServer {
public:
    struct Step {
        enum Kind {
            Send,
            Pause,
            Close,
            Reset
        } kind;
        std::string bytes;
        size_t chunk; // Send: bytes per send call, 0 for all at once
    };
    using Script = std::vector<Step>;

    static Step Send(std::string bytes, size_t chunk = 0) { return {Step::Send, std::move(bytes), chunk}; }
    // Waits until Resume() (or the server stops).
    static Step Pause() { return {Step::Pause, std::string(), 0}; }
    // Graceful close; also what happens at the end of every script.
    static Step Close() { return {Step::Close, std::string(), 0}; }
    // Abortive close: the client's receive fails.
    static Step Reset() { return {Step::Reset, std::string(), 0}; }

    // Listens on address:80 at once; Ok() tells whether that worked.
    explicit CTestHttpServer(const char* address);
    ~CTestHttpServer();
    CTestHttpServer(const CTestHttpServer&) = delete;
    CTestHttpServer& operator=(const CTestHttpServer&) = delete;

    bool Ok() const { return m_listen != INVALID_SOCKET; }
    const std::string& Address() const { return m_address; }

    // Queues the script for the next connection that has none yet.
    void Respond(Script script);
    // Shorthand: a 200 response with Content-Length and this body.
    void RespondOk(const std::string& body, size_t chunk = 0);
    void Resume();

    // Requests received so far, exactly as sent, in order.
    std::vector<std::string> Requests();
    // Waits until `n` Pause steps have been reached since the server started.
    void WaitForPauses(int n);
    int PausesReached();

private:
    void Serve();
    void Play(SOCKET client, const Script& script);

    std::string m_address;
    SOCKET m_listen = INVALID_SOCKET;
    HANDLE m_hStop;
    HANDLE m_hResume;   // auto-reset: one Resume releases one Pause
    HANDLE m_hProgress; // set whenever a script reaches a Pause
    std::mutex m_mutex;
    std::deque<Script> m_scripts;
    std::vector<std::string> m_requests;
    int m_nPaused = 0;
    std::thread m_thread;
};

// Folder of the running test executable, with a final backslash.
std::string ExeFolder();
// A new empty folder under the system's temporary folder, with a final backslash.
std::string MakeTempFolder(const char* prefix);
// Deletes a folder and everything in it.
void RemoveFolder(const std::string& folder);
std::string ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
