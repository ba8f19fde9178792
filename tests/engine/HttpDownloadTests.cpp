// The HTTP client against the test server on 127.0.0.10: the request it sends, the
// response read across the buffer's edges, result codes, the file left behind, the
// counters and the phases it posts.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/UpdateEngine.h"
#include "engine/UpdateLog.h"

#include <atomic>

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

const auto Ok = [](const std::string& body, const std::string& extraHeaders = "") {
    return "HTTP/1.0 200 OK\r\n" + extraHeaders + "Content-Length: " + std::to_string(body.size())
           + "\r\n\r\n" + body;
};

class HttpDownload : public testing::Test {
protected:
    HttpDownload() { m_engine.m_hNotifyWnd = m_recorder.m_hWnd; }
    ~HttpDownload() override { RemoveFolder(m_folder); }

    int Get(const Reply& reply, const char* url = kUrl)
    {
        m_server.Queue(reply);
        return m_engine.HttpDownload(url, m_file.c_str(), true);
    }

    CTestServer m_server{"127.0.0.10"};
    CRecorder m_recorder;
    CUpdateEngine m_engine;
    std::string m_folder = MakeTempFolder("http");
    std::string m_file = m_folder + "out.bin";
};

TEST_F(HttpDownload, Responses)
{
    const std::string body = Body(100000);
    const struct {
        const char* name;
        std::string response;
        int result;
        WPARAM lastPhase;
        std::string left; // the file afterwards ("old" is what was there before); empty: none
        size_t chunk = 0;
    } cases[] = {
        {"trickled byte by byte", Ok("hello", "Server: t\r\n"), 200, 30, "hello", 1},
        {"long body in pieces", Ok(body), 200, 30, body, 777},
        {"404", "HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", 404, 10, "old"},
        {"status after blanks", "HTTP/1.0  \t 501\r\n\r\n", 501, 10, "old"},
        {"status cut short", "HTTP/1.0 2", 2, 10, "old"},
        {"nothing", "", -1, 10, "old"},
        {"no status", "HTTP/1.0 ", -1, 10, "old"},
        {"status not a number", "HTTP/1.0 abc\r\nContent-Length: 1\r\n\r\nx", -1, 10, "old"},
        {"status too large", "HTTP/1.0 99999999999 Big\r\n\r\nx", -1, 10, "old"},
        {"negative status, never a cancel", "HTTP/1.0 -3 Odd\r\n\r\nx", -1, 10, "old"},
        {"label in lower case", "HTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\nhello", 200, 30, "hello"},
        {"a field named like the length",
         "HTTP/1.0 200 OK\r\nX-Content-Length: 7\r\nContent-Length: 5\r\n\r\nhello", 200, 30, "hello"},
        {"no length", "HTTP/1.0 200 OK\r\n\r\nhello", -1, 10, "old"},
        {"negative length", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nhello", -1, 10, "old"},
        {"length not a number", "HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\nhi", -1, 10, "old"},
        {"length too large", "HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\nhi", -1, 10, "old"},
        {"label at the very end", "HTTP/1.0 200 OK\r\nContent-Length:", -1, 10, "old"},
        {"no blank line", "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n", -1, 20, "old"},
        {"empty body", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", -1, 20, "old"},
        {"body too long at once", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nhello", -1, 20, ""},
        {"body too long later", "HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n" + body.substr(0, 2501), -1,
         20, "", 777},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(m_file, "old");
        const size_t requests = m_server.Requests().size();
        EXPECT_EQ(Get({c.response, c.chunk}), c.result);
        EXPECT_EQ(m_server.Requests().size(), requests + 1) << "nothing here is tried again";
        EXPECT_EQ(m_recorder.Take(), TransferPhases(c.lastPhase));
        EXPECT_EQ(FileExists(m_file), !c.left.empty());
        EXPECT_TRUE(ReadFileBytes(m_file) == c.left);
        EXPECT_TRUE(c.result != 200 || m_engine.m_nReceived == static_cast<int>(c.left.size()));
    }
}

// The Content-Length line, then the blank line, moved over the 1024-byte edge of the
// first filling one byte at a time; five digits, so the number can be cut too. Then the
// same after a line longer than the buffer, whose end is moved over a later edge.
TEST_F(HttpDownload, HeadersAcrossTheBufferEdge)
{
    const std::string body = Body(12345), status = "HTTP/1.0 200 OK\r\n",
                      head = status + "Content-Length: 12345\r\nX-Pad: ";
    for (int at = 985; at <= 1030; ++at) {
        for (int longer : {0, 1039}) { // 1039: the long line's CR is the last byte of a filling at 1026
            const std::string pad = "X-Pad: " + std::string(at + longer - status.size() - 9, 'p') + "\r\n";
            ASSERT_EQ(Get({status + pad + "Content-Length: 12345\r\n\r\n" + body, at % 2 ? 0u : 100u}), 200)
                << at + longer;
            EXPECT_TRUE(ReadFileBytes(m_file) == body) << "label at " << at + longer;
        }
        EXPECT_EQ(Get({head + std::string(at - head.size(), 'p') + "\r\n\r\n" + body}), 200)
            << "end at " << at;
        EXPECT_TRUE(ReadFileBytes(m_file) == body) << "end at " << at;
    }
    // Bytes the buffer held before a carry are never read again: here the line cut at the
    // first filling's end would run on into them.
    EXPECT_EQ(Get({status + "X-Pad: " + std::string(987, 'p') + "\r\nContent-Length: 5"}), -1);
    EXPECT_EQ(m_engine.m_nContentLength, -1);
}

TEST_F(HttpDownload, RequestIsTheWholeUrlWithoutHeaderLines)
{
    for (const char* url : {"http://127.0.0.10/dir/p.php?v=01020003&a=%20b", "http://127.0.0.10"}) {
        EXPECT_EQ(Get({Ok("x")}, url), 200);
        EXPECT_EQ(m_server.Requests().back(), std::string("GET ") + url + " HTTP/1.0\r\n\r\n");
    }
}

TEST_F(HttpDownload, RefusedUrlsAndUnwritableFilesFailWithoutAFile)
{
    for (const char* url : {"HTTP://127.0.0.10/x", "ftp://127.0.0.10/x", "http://", "http:/x/y/z", "",
                            "http://10.0.0.300/x", "http:///x", "http://255.255.255.255/x"}) {
        m_engine.m_nContentLength = 7;
        m_engine.m_nReceived = 9;
        EXPECT_EQ(m_engine.HttpDownload(url, m_file.c_str(), true), -1) << url;
        EXPECT_EQ(m_engine.m_nContentLength, -1);
        EXPECT_EQ(m_engine.m_nReceived, 0);
    }
    EXPECT_TRUE(m_recorder.Take().empty());
    EXPECT_TRUE(m_server.Requests().empty());
    m_file = m_folder + "no\\such\\folder";
    EXPECT_EQ(Get({Ok("hello")}), -1);
    EXPECT_FALSE(FileExists(m_file));
}

TEST_F(HttpDownload, CancelAndNoConnection)
{
    // A body held back after more than one buffer (the body loop is running), then a retry's
    // wait of a minute: the server holds the rest back until told, so the cancel itself must
    // wake the receive, and end the wait.
    engine_detail::g_dwRetrySecondMs = 60000;
    OpenUpdateLog(m_folder + "log");
    for (const char* status : {"200 OK\r\nContent-Length: 6000", "503 Busy"}) {
        m_server.Queue({"HTTP/1.0 " + std::string(status) + "\r\n\r\n" + Body(6000), 0, 2500});
        m_engine.m_bCancel = false;
        std::atomic<int> result(0); // no download returns 0
        std::thread download([&] { result = m_engine.HttpDownload(kUrl, m_file.c_str(), true); });
        EXPECT_TRUE(PumpUntil([&] {
            return status[0] == '2' ? m_engine.m_nReceived > 1000
                                    : ReadFileBytes(m_folder + "log").find(" retry ") != std::string::npos;
        }));
        EXPECT_EQ(FileExists(m_file), status[0] == '2');
        m_engine.Cancel();
        EXPECT_TRUE(PumpUntil([&] { return result != 0; }));
        m_server.Resume();
        download.join();
        EXPECT_EQ(result, -3);
        EXPECT_FALSE(FileExists(m_file));
        EXPECT_EQ(m_recorder.Take(), TransferPhases(status[0] == '2' ? 20 : 10));
    }
    OpenUpdateLog("");
    engine_detail::g_dwRetrySecondMs = 1000;

    EXPECT_EQ(m_engine.HttpDownload(kUrl, m_file.c_str(), true), -3) << "cancelled before connecting";
    EXPECT_EQ(m_server.Requests().size(), 2u) << "the two above";
    m_engine.m_bCancel = false;
    // Nothing listens on 127.0.0.11. A name is resolved: not refused before connecting.
    EXPECT_EQ(m_engine.HttpDownload("http://127.0.0.11/f", m_file.c_str(), true), -2);
    EXPECT_NE(m_engine.HttpDownload("http://localhost/f", m_file.c_str(), false), -1);
    EXPECT_EQ(m_recorder.Take(), TransferPhases(0));
}

} // namespace
