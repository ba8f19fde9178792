// The HTTP client against the test server on 127.0.0.10: the request it sends, the
// response read across the buffer's edges, result codes, the file left behind, the
// counters and the phases it posts.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/UpdateEngine.h"

namespace {

using Reply = CTestServer::Reply;
const char kUrl[] = "http://127.0.0.10/f";

std::string Body(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
    return s;
}

std::string Ok(const std::string& body, const std::string& extraHeaders = "")
{
    return "HTTP/1.0 200 OK\r\n" + extraHeaders + "Content-Length: " + std::to_string(body.size())
           + "\r\n\r\n" + body;
}

class HttpDownload : public testing::Test {
protected:
    static void SetUpTestSuite() { s_server = new CTestServer("127.0.0.10"); }
    static void TearDownTestSuite() { delete s_server; }
    HttpDownload() { m_engine.m_hNotifyWnd = m_recorder.Window(); }
    ~HttpDownload() override { RemoveFolder(m_folder); }

    int Get(const Reply& reply, const char* url = kUrl)
    {
        s_server->Queue(reply);
        return m_engine.HttpDownload(url, m_file.c_str(), true);
    }
    // The phases posted since the last call.
    std::vector<WPARAM> Phases()
    {
        std::vector<WPARAM> phases;
        for (const Posted& m : m_recorder.Take())
            phases.push_back(m.message == UM_TRANSFER_STATE ? m.wParam : 999);
        return phases;
    }

    static CTestServer* s_server;
    CRecorder m_recorder;
    CUpdateEngine m_engine;
    std::string m_folder = MakeTempFolder("http");
    std::string m_file = m_folder + "out.bin";
};

CTestServer* HttpDownload::s_server = nullptr;

TEST_F(HttpDownload, Responses)
{
    const std::string body = Body(100000);
    const std::string cut = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body.substr(0, 2000);
    const struct {
        const char* name;
        std::string response;
        int result;
        const char* left; // the file afterwards: "old" untouched, null removed, else the body
        std::vector<WPARAM> phases;
        size_t chunk = 0;
        bool reset = false;
    } cases[] = {
        {"trickled byte by byte", Ok("hello", "Server: t\r\n"), 200, "hello", {0, 10, 20, 30}, 1},
        {"long body in pieces", Ok(body), 200, nullptr, {0, 10, 20, 30}, 777},
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", 404, "old", {0, 10}},
        {"status after blanks", "HTTP/1.0  \t 503\r\n\r\n", 503, "old", {0, 10}},
        {"status cut short", "HTTP/1.0 2", 2, "old", {0, 10}},
        {"nothing", "", -1, "old", {0, 10}},
        {"no status", "HTTP/1.0 ", -1, "old", {0, 10}},
        {"status not a number", "HTTP/1.0 abc\r\nContent-Length: 1\r\n\r\nx", -1, "old", {0, 10}},
        {"status too large", "HTTP/1.0 99999999999 Big\r\n\r\nx", -1, "old", {0, 10}},
        {"negative status, never a cancel", "HTTP/1.0 -3 Odd\r\n\r\nx", -1, "old", {0, 10}},
        {"label in lower case", "HTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\nhello", -1, "old", {0, 10}},
        {"no length", "HTTP/1.0 200 OK\r\n\r\nhello", -1, "old", {0, 10}},
        {"negative length", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nhello", -1, "old", {0, 10}},
        {"length not a number", "HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\nhi", -1, "old", {0, 10}},
        {"length too large", "HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\nhi", -1, "old", {0, 10}},
        {"label at the very end", "HTTP/1.0 200 OK\r\nContent-Length:", -1, "old", {0, 10}},
        {"no blank line", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n", -1, "old", {0, 10, 20}},
        {"empty body", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", -1, "old", {0, 10, 20}},
        {"body cut short", cut, -2, nullptr, {0, 10, 20}},
        {"connection reset", cut, -2, nullptr, {0, 10, 20}, 0, true},
        {"body too long at once",
         "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nhello",
         -1,
         nullptr,
         {0, 10, 20}},
        {"body too long later",
         "HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n" + body.substr(0, 2501),
         -1,
         nullptr,
         {0, 10, 20},
         777},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(m_file, "old");
        EXPECT_EQ(Get({c.response, c.chunk, std::string::npos, c.reset}), c.result);
        EXPECT_EQ(Phases(), c.phases);
        const std::string expected = c.result == 200 ? (c.left ? c.left : body) : c.left ? c.left : "";
        EXPECT_EQ(FileExists(m_file), !expected.empty());
        EXPECT_TRUE(ReadFileBytes(m_file) == expected);
        if (c.result == 200) {
            EXPECT_EQ(m_engine.m_nReceived, static_cast<int>(expected.size()));
        }
    }
}

// The Content-Length label, then the blank line, moved over the 1024-byte edge of
// the first filling one byte at a time; five digits, so the number can be cut too.
TEST_F(HttpDownload, HeadersAcrossTheBufferEdge)
{
    const std::string body = Body(12345);
    for (int at = 985; at <= 1030; ++at) {
        const std::string status = "HTTP/1.0 200 OK\r\n";
        const std::string pad = "X-Pad: " + std::string(at - status.size() - 9, 'p') + "\r\n";
        ASSERT_EQ(Get({status + pad + "Content-Length: 12345\r\n\r\n" + body, at % 2 ? 0u : 100u}), 200)
            << at;
        EXPECT_EQ(m_engine.m_nContentLength, 12345) << "label at " << at;
        EXPECT_TRUE(ReadFileBytes(m_file) == body) << "label at " << at;
    }
    for (int at = 1010; at <= 1030; ++at) {
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 12345\r\nX-Pad: ";
        EXPECT_EQ(Get({head + std::string(at - head.size(), 'p') + "\r\n\r\n" + body}), 200)
            << "end at " << at;
        EXPECT_TRUE(ReadFileBytes(m_file) == body) << "end at " << at;
    }
    // Bytes an earlier response left in memory are never read.
    EXPECT_EQ(Get({"HTTP/1.0 200 OK\r\nContent-Length: 12345\r\n"}), -1);
    EXPECT_EQ(Get({"HTTP/1.0 200 OK\r\nContent-Length: 1"}), -1);
    EXPECT_EQ(m_engine.m_nContentLength, 1);
}

TEST_F(HttpDownload, RequestIsTheWholeUrlWithoutHeaderLines)
{
    for (const char* url : {"http://127.0.0.10/dir/p.php?v=01020003&a=%20b", "http://127.0.0.10"}) {
        EXPECT_EQ(Get({Ok("x")}, url), 200);
        EXPECT_EQ(s_server->Requests().back(), std::string("GET ") + url + " HTTP/1.0\r\n\r\n");
    }
}

TEST_F(HttpDownload, RefusedUrlsAndUnwritableFilesFailWithoutAFile)
{
    const size_t requests = s_server->Requests().size();
    for (const char* url : {"HTTP://127.0.0.10/x", "https://127.0.0.10/x", "http://", "http:/x/y/z", "",
                            "http://10.0.0.300/x", "http:///x", "http://255.255.255.255/x"}) {
        m_engine.m_nContentLength = 7;
        m_engine.m_nReceived = 9;
        EXPECT_EQ(m_engine.HttpDownload(url, m_file.c_str(), true), -1) << url;
        EXPECT_EQ(m_engine.m_nContentLength, -1);
        EXPECT_EQ(m_engine.m_nReceived, 0);
    }
    EXPECT_TRUE(Phases().empty());
    EXPECT_EQ(s_server->Requests().size(), requests);
    m_file = m_folder + "no\\such\\folder";
    EXPECT_EQ(Get({Ok("hello")}), -1);
    EXPECT_FALSE(FileExists(m_file));
}

TEST_F(HttpDownload, CancelAndNoConnection)
{
    // Paused after more than one buffer of the body: the body loop is running.
    const int paused = s_server->Paused();
    s_server->Queue({"HTTP/1.0 200 OK\r\nContent-Length: 6000\r\n\r\n" + Body(6000), 0, 2500});
    int result = 0;
    std::thread download([&] { result = m_engine.HttpDownload(kUrl, m_file.c_str(), true); });
    ASSERT_TRUE(PumpUntil([&] { return s_server->Paused() > paused && m_engine.m_nReceived > 1000; }));
    EXPECT_TRUE(FileExists(m_file));
    m_engine.m_bCancel = true;
    s_server->Resume();
    download.join();
    EXPECT_EQ(result, -3);
    EXPECT_FALSE(FileExists(m_file));
    EXPECT_EQ(Phases(), (std::vector<WPARAM>{0, 10, 20}));

    const size_t requests = s_server->Requests().size();
    EXPECT_EQ(m_engine.HttpDownload(kUrl, m_file.c_str(), true), -3) << "cancelled before connecting";
    EXPECT_EQ(s_server->Requests().size(), requests);
    m_engine.m_bCancel = false;
    // Nothing listens on 127.0.0.11; "localhost" resolves to 127.0.0.1, where nothing listens either.
    EXPECT_EQ(m_engine.HttpDownload("http://127.0.0.11/f", m_file.c_str(), true), -2);
    EXPECT_EQ(m_engine.HttpDownload("http://localhost/f", m_file.c_str(), false), -2);
    EXPECT_EQ(Phases(), std::vector<WPARAM>{0});
}

} // namespace
