// Downloads the direct client cannot make, against real servers on loopback: nginx
// over https (the test CA trusted, certificates it refuses), squid as the user's proxy
// set as Windows keeps it (manual, bypassed, chosen by a configuration script, down,
// refusing), and servers that moved. origin.test resolves only inside squid. Then what
// a flaky network does to a download on both routes.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/UpdateEngine.h"
#include "engine/UpdateLog.h"

#include <winhttp.h>

#include <regex>
#include <sstream>

namespace {

// The user's proxy settings where Windows keeps them for the system's HTTP stack.
void SetProxySettings(const std::string& proxy, const std::string& bypass, const std::string& script)
{
    const auto dword = [](DWORD n) { return std::string(reinterpret_cast<const char*>(&n), sizeof n); };
    std::string blob = dword(0x46) + dword(1) + dword(1 | (proxy.empty() ? 0 : 2) | (script.empty() ? 0 : 4));
    for (const std::string* text : {&proxy, &bypass, &script})
        blob += dword(static_cast<DWORD>(text->size())) + *text;
    blob.append(32, '\0');
    RegSetKeyValueA(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections",
                    "DefaultConnectionSettings", REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
}

// Cancels the engine after as many options as asked.
CUpdateEngine* g_pCancelled = nullptr;
int g_nOptionsLeft = 0;
BOOL WINAPI CancelAfterOption(void* h, DWORD option, void* buffer, DWORD length)
{
    const BOOL ok = WinHttpSetOption(h, option, buffer, length);
    return --g_nOptionsLeft == 0 ? (g_pCancelled->Cancel(), ok) : ok;
}
std::atomic<int> g_nFreedTwice{0};

// The answer a row names by <status>[<kind>][.<from>][/<sent>][!][:<wait>]. A 200 or 206
// sends file a (b: another) from byte <from>, cut after <sent> bytes, reset if marked !; a
// 200 of a or b carries its ETag, of w a weak one, of d a date (d), of n none. A bare
// status sends a Retry-After when asked.
CTestServer::Reply Answer(const std::string& token, const std::string& a, const std::string& b)
{
    std::smatch m;
    std::regex_match(token, m, std::regex("(\\d+)([abdnw]?)\\.?(\\d*)/?(\\d*)(!?):?(\\d*)"));
    const std::string kind = m[2], &file = kind == "b" ? b : a, to = std::to_string(file.size() - 1);
    const size_t from = m[3].length() ? std::stoul(m[3]) : 0, sent = m[4].length() ? std::stoul(m[4]) : -1;
    const std::string fields = (kind == "d"   ? "Last-Modified: d\r\n"
                                : kind == "w" ? "ETag: W/\"a\"\r\n"
                                              : "")
                               + (kind == "a" || kind == "b" ? "ETag: \"" + kind + "\"\r\n" : "")
                               + (m[6].length() ? "Retry-After: " + m.str(6) + "\r\n" : "")
                               + (m[1] == "206" ? "Content-Range: bytes " + m.str(3) + "-" + to + "/"
                                                      + std::to_string(file.size()) + "\r\n"
                                                : "");
    const std::string body = kind.empty() ? "" : file.substr(from);
    return {"HTTP/1.0 " + m.str(1) + " X\r\n" + fields + "Content-Length: " + std::to_string(body.size())
                + "\r\n\r\n" + body.substr(0, sent),
            0, std::string::npos, m[5] == "!"};
}

class SystemHttp : public testing::Test {
protected:
    SystemHttp()
    {
        engine_detail::g_dwRetrySecondMs = 1; // a retry's second is a millisecond here
        m_site.Publish("hello.txt", "hello");
        m_site.Publish("proxy.pac",
                       "function FindProxyForURL(url, host) {\n"
                       "  return host == \"origin.test\" ? \"PROXY 127.0.0.1:3128\" : \"DIRECT\";\n}\n");
    }
    ~SystemHttp() override
    {
        SetProxySettings("", "", "");
        RemoveFolder(m_folder);
    }

    CNginxSite m_site;
    CTestServer m_server{"127.0.0.12"};
    std::string m_folder = MakeTempFolder("system");
    std::string m_file = m_folder + "out.bin";
};

TEST_F(SystemHttp, ProxiesHttpsAndMoves)
{
    const char* proxy = "127.0.0.1:3128";
    const std::string hello = "/download/hello.txt";
    const struct {
        const char* name;
        std::string url;
        int result;
        const char* proxy = "";
        const char* bypass = "";
        const char* script = "";
    } cases[] = {
        {"manual proxy", "http://origin.test" + hello, 200, proxy},
        {"bypassed for the host", "http://127.0.0.1" + hello, 200, proxy, "x.test;127.0.0.*"},
        {"bypassed as local", "http://localhost" + hello, 200, proxy, "<local>"},
        {"chosen by a script", "http://origin.test" + hello, 200, "", "",
         "http://127.0.0.1/download/proxy.pac"},
        {"proxy asking for the logon", "http://origin.test/x", 200, "127.0.0.12:80"},
        {"server asking for the logon", "http://origin.test/x", 401, "127.0.0.12:80"},
        {"https", "https://localhost" + hello, 200},
        {"https through the proxy", "https://origin.test" + hello, 200, proxy},
        {"https, another name", "https://127.0.0.1" + hello, -1},
        {"https, expired", "https://localhost:4431" + hello, -1},
        {"https, untrusted root", "https://localhost:4432" + hello, -1},
        {"moved, 301", "http://127.0.0.1/move/301", 200},
        {"moved, 302", "http://127.0.0.1/move/302", 200},
        {"moved, 303", "http://127.0.0.1/move/303", 200},
        {"moved, 307", "http://127.0.0.1/move/307", 200},
        {"moved, 308", "http://127.0.0.1/move/308", 200},
        {"moved five times", "http://127.0.0.1/chain5", 200},
        {"moved six times", "http://127.0.0.1/chain6", 301},
        {"moved to https", "http://127.0.0.1/up", 200},
        {"moved from https to http", "https://localhost/down", 301},
    };
    // The test server, as the proxy, answers for the server too: the logon goes to its 407
    // only. Wine makes no logon token; the second request shows the stack was told.
    for (const char* reply :
         {"407 P\r\nProxy-Authenticate: NTLM\r\n\r\n", "200 OK\r\nContent-Length: 5\r\n\r\nhello",
          "401 S\r\nWWW-Authenticate: NTLM\r\n\r\n"})
        m_server.Queue({std::string("HTTP/1.0 ") + reply});
    // Freed requests are poisoned with zeros and kept: a release after the free frees an
    // all-zero block again.
    engine_detail::g_pSetHttpOption = CancelAfterOption;
    engine_detail::g_pFreeRequest = [](void* p, size_t n) {
        g_nFreedTwice += !*static_cast<char*>(p) && !memcmp(p, static_cast<char*>(p) + 1, n - 1);
        memset(p, 0, n);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetProxySettings(c.proxy, c.bypass, c.script);
        DeleteFileA(m_file.c_str());
        CRecorder recorder;
        std::unique_ptr<CUpdateEngine> engine;
        int result = DOWNLOAD_CANCELLED;
        // Cancelled after the first option the route sets, the second, ... then to its end.
        for (int step = 1; result == DOWNLOAD_CANCELLED && step < 40; ++step) {
            engine.reset(new CUpdateEngine); // reads the settings afresh
            engine->m_hNotifyWnd = recorder.m_hWnd;
            g_pCancelled = engine.get();
            g_nOptionsLeft = step;
            result = engine->HttpDownload(c.url.c_str(), m_file.c_str(), true);
        }
        EXPECT_EQ(result, c.result);
        if (*c.bypass) { // the client's own request, not the proxy's
            const std::string log = m_site.Log();
            EXPECT_NE(log.find("\"GET " + c.url + " HTTP/1.0\"", log.rfind('\n', log.size() - 2)),
                      std::string::npos);
        }
        EXPECT_EQ(FileExists(m_file), c.result == 200);
        if (c.result == 200) { // the file, and the popup's progress
            EXPECT_EQ(ReadFileBytes(m_file), "hello");
            EXPECT_EQ(engine->m_nContentLength, 5);
            EXPECT_EQ(engine->m_nReceived, 5);
            const std::vector<Posted> phases = recorder.Take();
            EXPECT_EQ(phases.empty() ? 0 : std::get<1>(phases.back()), 30u);
        }
    }
    EXPECT_EQ(g_nFreedTwice, 0);
}

// A server posing as a proxy, reached directly after a move, gets no logon: its 407 ends
// the download, with nothing more sent.
TEST_F(SystemHttp, LogonOnlyToTheProxy)
{
    engine_detail::g_pSetHttpOption = WinHttpSetOption;
    for (const char* proxy : {"", "127.0.0.1:3128"}) {
        SCOPED_TRACE(proxy);
        SetProxySettings(proxy, "127.0.0.12", "");
        for (const char* reply :
             {"302 M\r\nLocation: http://127.0.0.12/y\r\n\r\n", "407 P\r\nProxy-Authenticate: NTLM\r\n\r\n"})
            m_server.Queue({std::string("HTTP/1.0 ") + reply});
        const size_t before = m_server.Requests().size();
        CUpdateEngine engine;
        EXPECT_EQ(engine.HttpDownload("http://127.0.0.12/x", m_file.c_str(), false), 407);
        EXPECT_EQ(m_server.Requests().size() - before, 2u);
        EXPECT_FALSE(FileExists(m_file));
    }
}

// A quit while the configuration script is held back: the cancel itself ends the download.
TEST_F(SystemHttp, CancelWhileTheScriptIsHeldBack)
{
    SetProxySettings("", "", "http://127.0.0.12/proxy.pac");
    m_server.Queue({"HTTP/1.0 200 OK\r\n\r\nfunction", 0, 20});
    CUpdateEngine engine;
    std::atomic<int> result(0); // no download returns 0
    std::thread download(
        [&] { result = engine.HttpDownload("http://origin.test/x", m_file.c_str(), false); });
    EXPECT_TRUE(PumpUntil([&] { return !m_server.Requests().empty(); }));
    engine.Cancel();
    EXPECT_TRUE(PumpUntil([&] { return result == -3; }, 5000));
    m_server.Resume();
    download.join();
}

// Answers a flaky network gives, in turn, to the direct client and to the system's stack
// with the test server as the user's proxy. A row's trace is each request's resume (- for
// none, else the first byte and the If-Range's validator without quotes), then the waits
// the log holds (a second is a millisecond here). A resume asks from the byte after the
// last one kept: no byte comes twice.
TEST_F(SystemHttp, RetriesAndResumes)
{
    std::string a; // and b, another version of another length
    for (int i = 0; i < 10000; ++i)
        a += static_cast<char>(i * 7919 / 13);
    const std::string b(a.rbegin(), a.rend() - 1000);
    const struct {
        const char* name;
        const char* answers; // none: nothing listens
        const char* trace;
        char file; // a or b, downloaded; 0: failed, the connection cut or refused
    } rows[] = {
        {"reset, then the rest", "200a/6000! 206a.6000", "- 6000a | 1", 'a'},
        {"cut, then whole again", "200d/3000 200n", "- 3000d | 1", 'a'},
        {"cut at one byte", "200a/4000 200a/4000 206a.4000/0 206a.4000/0", "- 4000a 4000a 4000a | 1 2 4", 0},
        {"cut by fifths", "200a/2000 206a.2000/2000 206a.4000/2000 206a.6000/2000 206a.8000",
         "- 2000a 4000a 6000a 8000a | 1 1 1 1", 'a'},
        {"another range", "200a/5000 206a.4000 200a", "- 5000a - | 1 2", 'a'},
        {"another length", "200a/5000 206b.5000 200a", "- 5000a - | 1 2", 'a'},
        {"another version", "200a/5000 200b/3000 206b.3000", "- 5000a 3000b | 1 2", 'b'},
        {"weak ETag", "200w/5000 206a.5000", "- 5000 | 1", 'a'},
        {"429 asking for 7 s", "429:7 200a", "- - | 7", 'a'},
        {"503 asking for 31 s", "503:31 200a", "- - | 1", 'a'},
        {"refused", "", "|", 0},
    };
    const std::string log = m_folder + "log.txt";
    OpenUpdateLog(log);
    for (const bool bProxy : {false, true}) {
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(r.name) + (bProxy ? ", through the proxy" : ", direct"));
            const std::string host = *r.answers ? "127.0.0.12" : "127.0.0.13";
            SetProxySettings(bProxy ? host + ":80" : "", "", "");
            std::istringstream answers(r.answers);
            for (std::string token; answers >> token;)
                m_server.Queue(Answer(token, a, b));
            const size_t before = m_server.Requests().size();
            DeleteFileA(log.c_str());
            CRecorder recorder;
            CUpdateEngine engine;
            engine.m_hNotifyWnd = recorder.m_hWnd;
            const std::string url = "http://" + (bProxy ? "origin.test" : host) + "/f";
            EXPECT_EQ(engine.HttpDownload(url.c_str(), m_file.c_str(), true), r.file ? 200 : -2);
            EXPECT_TRUE(FileExists(m_file) == !!r.file
                        && ReadFileBytes(m_file) == (r.file ? r.file == 'a' ? a : b : ""));
            EXPECT_EQ(recorder.Take(), TransferPhases(r.file ? 30 : *r.answers ? 20 : 0));
            std::string trace, waits, text = ReadFileBytes(log);
            const std::vector<std::string> requests = m_server.Requests();
            for (size_t i = before; i < requests.size(); ++i) {
                std::smatch m; // the resume asked for
                std::regex_search(requests[i], m,
                                  std::regex("Range: bytes=(\\d+)-\r\n(If-Range: (.*)\r\n)?"));
                trace +=
                    (m.empty() ? "-" : m.str(1) + std::regex_replace(m.str(3), std::regex("\""), "")) + " ";
            }
            for (size_t at = 0; (at = text.find(" wait=", at + 1)) != text.npos;)
                waits += " " + text.substr(at + 6, text.find('\r', at) - at - 6);
            EXPECT_EQ(trace + "|" + waits, r.trace);
            DeleteFileA(m_file.c_str());
        }
    }
    OpenUpdateLog("");
}

} // namespace
