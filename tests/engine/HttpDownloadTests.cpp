// The HTTP client against the in-process test server on 127.0.0.10:80: request
// bytes, response parsing across the buffer's edges, result codes, files left
// behind, counters and phase notifications.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "MessageRecorder.h"
#include "TestHttpServer.h"
#include "engine/UpdateEngine.h"

namespace {

const char kServer[] = "127.0.0.10";
const char kNobody[] = "127.0.0.11"; // nothing listens there

using Server = CTestHttpServer;

std::string Ok(const std::string& body, const std::string& extraHeaders = "")
{
    return "HTTP/1.0 200 OK\r\n" + extraHeaders + "Content-Length: " + std::to_string(body.size())
           + "\r\n\r\n" + body;
}

std::string Body(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>((i * 7919 + i / 251) & 0xFF);
    return s;
}

std::vector<RecordedMessage> Phases(std::initializer_list<WPARAM> phases)
{
    std::vector<RecordedMessage> v;
    for (WPARAM p : phases)
        v.push_back({UM_TRANSFER_STATE, p, 0});
    return v;
}

class HttpDownloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new Server(kServer);
        ASSERT_TRUE(s_server->Ok());
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
        WSACleanup();
    }
    void SetUp() override
    {
        m_folder = MakeTempFolder("http");
        m_file = m_folder + "out.bin";
        m_engine.m_hNotifyWnd = m_recorder.Window();
    }
    void TearDown() override { RemoveFolder(m_folder); }

    int Get(const std::string& path = "/f", bool notify = true)
    {
        return m_engine.HttpDownload(("http://" + std::string(kServer) + path).c_str(), m_file.c_str(),
                                     notify);
    }
    // Serves `response` for the next request and downloads it.
    int Serve(const std::string& response, size_t chunk = 0)
    {
        s_server->Respond({Server::Send(response, chunk)});
        return Get();
    }
    std::string LastRequest()
    {
        const auto requests = s_server->Requests();
        return requests.empty() ? std::string() : requests.back();
    }

    static Server* s_server;
    CMessageRecorder m_recorder;
    CUpdateEngine m_engine;
    std::string m_folder;
    std::string m_file;
};

Server* HttpDownloadTest::s_server = nullptr;

TEST_F(HttpDownloadTest, RefusedUrlsFailBeforeAnyConnection)
{
    const size_t before = s_server->Requests().size();
    for (const char* url : {"HTTP://127.0.0.10/x", "https://127.0.0.10/x", "http://", "http:/x/y/z", "",
                            "http://10.0.0.300/x", "http:///x", "http://255.255.255.255/x"}) {
        m_engine.m_nContentLength = 7;
        m_engine.m_nReceived = 9;
        EXPECT_EQ(m_engine.HttpDownload(url, m_file.c_str(), true), DOWNLOAD_FAILED) << url;
        EXPECT_EQ(m_engine.m_nContentLength, -1);
        EXPECT_EQ(m_engine.m_nReceived, 0);
    }
    EXPECT_TRUE(m_recorder.Drain().empty());
    EXPECT_EQ(s_server->Requests().size(), before);
    EXPECT_FALSE(FileExists(m_file));
}

TEST_F(HttpDownloadTest, RequestIsTheWholeUrlWithoutHeaderLines)
{
    Serve(Ok("x"));
    EXPECT_EQ(LastRequest(), "GET http://127.0.0.10/f HTTP/1.0\r\n\r\n");

    s_server->Respond({Server::Send(Ok("x"))});
    EXPECT_EQ(m_engine.HttpDownload("http://127.0.0.10/dir/p.php?v=01020003&a=%20b", m_file.c_str(), false),
              200);
    EXPECT_EQ(LastRequest(), "GET http://127.0.0.10/dir/p.php?v=01020003&a=%20b HTTP/1.0\r\n\r\n");

    s_server->Respond({Server::Send(Ok("x"))});
    EXPECT_EQ(m_engine.HttpDownload("http://127.0.0.10", m_file.c_str(), false), 200);
    EXPECT_EQ(LastRequest(), "GET http://127.0.0.10 HTTP/1.0\r\n\r\n");
}

TEST_F(HttpDownloadTest, SuccessWritesExactlyTheBodyAndPostsFourPhases)
{
    ASSERT_EQ(Serve(Ok("hello")), 200);
    EXPECT_EQ(ReadFileBytes(m_file), "hello");
    EXPECT_EQ(m_engine.m_nContentLength, 5);
    EXPECT_EQ(m_engine.m_nReceived, 5);
    EXPECT_EQ(m_recorder.Drain(), Phases({0, 10, 20, 30}));

    // An existing file is replaced; without notify nothing is posted.
    const std::string body = Body(100000);
    s_server->Respond({Server::Send(Ok(body), 777)});
    ASSERT_EQ(Get("/f", false), 200);
    EXPECT_EQ(ReadFileBytes(m_file), body);
    EXPECT_EQ(m_engine.m_nReceived, 100000);
    EXPECT_EQ(m_recorder.Drain().size(), 4u);
}

TEST_F(HttpDownloadTest, ResponseTrickledByteByByte)
{
    const std::string body = Body(3000);
    ASSERT_EQ(Serve(Ok(body, "Server: test\r\n"), 1), 200);
    EXPECT_EQ(ReadFileBytes(m_file), body);
}

// Moves the Content-Length line and the blank line across the 1024-byte edge of
// the first filling, one byte at a time.
TEST_F(HttpDownloadTest, HeadersAcrossTheBufferEdge)
{
    const std::string body = Body(12345); // five digits that can be cut too
    for (int labelAt = 985; labelAt <= 1030; ++labelAt) {
        const std::string status = "HTTP/1.0 200 OK\r\n";
        const std::string pad = "X-Pad: " + std::string(labelAt - status.size() - 9, 'p') + "\r\n";
        const std::string response = status + pad + "Content-Length: 12345\r\n\r\n" + body;
        ASSERT_EQ(response.find("Content-Length:"), size_t(labelAt));
        EXPECT_EQ(Serve(response, labelAt % 2 ? 0 : 100), 200) << "label at " << labelAt;
        EXPECT_EQ(m_engine.m_nContentLength, 12345) << "label at " << labelAt;
        EXPECT_EQ(ReadFileBytes(m_file), body) << "label at " << labelAt;
    }
    // The label early, the blank line wandering over the edge.
    for (int endAt = 1010; endAt <= 1030; ++endAt) {
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 12345\r\n";
        const std::string pad = "X-Pad: " + std::string(endAt - head.size() - 7, 'p');
        const std::string response = head + pad + "\r\n\r\n" + body;
        ASSERT_EQ(response.find("\r\n\r\n"), size_t(endAt));
        EXPECT_EQ(Serve(response), 200) << "blank line at " << endAt;
        EXPECT_EQ(ReadFileBytes(m_file), body) << "blank line at " << endAt;
    }
}

TEST_F(HttpDownloadTest, StatusLine)
{
    const struct {
        std::string response;
        int result;
    } cases[] = {
        {"", DOWNLOAD_FAILED},
        {"HTTP/1.0", DOWNLOAD_FAILED},
        {"HTTP/1.0 ", DOWNLOAD_FAILED},
        {"HTTP/1.0 abc\r\nContent-Length: 1\r\n\r\nx", DOWNLOAD_FAILED},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 1\r\n\r\nx", 404},
        {"HTTP/1.0 302 Found\r\nLocation: http://elsewhere/\r\n\r\n", 302},
        {"HTTP/1.0 99999999999 Big\r\n\r\nx", DOWNLOAD_FAILED},
        {"HTTP/1.0 -3 Odd\r\n\r\nx", DOWNLOAD_FAILED}, // never mistaken for a cancel
        {"HTTP/1.0  \t 503\r\n\r\n", 503},
        {"HTTP/1.0 2", 2},
    };
    for (const auto& c : cases) {
        // Something to leave alone: no file is touched before the headers pass.
        ASSERT_TRUE(CopyFileA((ExeFolder() + "fake_noversion.exe").c_str(), m_file.c_str(), FALSE));
        const std::string before = ReadFileBytes(m_file);
        EXPECT_EQ(Serve(c.response), c.result) << c.response;
        EXPECT_EQ(ReadFileBytes(m_file), before) << c.response;
    }
}

TEST_F(HttpDownloadTest, OnlyReceivedBytesAreParsed)
{
    // A first download leaves "HTTP/1.0 200 ... Content-Length: 12345" in memory
    // that a careless parser could read past the end of a shorter response.
    ASSERT_EQ(Serve(Ok(Body(12345))), 200);
    EXPECT_EQ(Serve("HTTP/1.0 2"), 2);
    EXPECT_EQ(Serve("HTTP/1.0 200 OK\r\nContent-Length: 1"), DOWNLOAD_FAILED);
    EXPECT_EQ(m_engine.m_nContentLength, 1);
}

TEST_F(HttpDownloadTest, ContentLengthIsRequired)
{
    const struct {
        std::string response;
        int contentLength; // afterwards
    } cases[] = {
        {"HTTP/1.0 200 OK\r\ncontent-length: 5\r\n\r\nhello", -1},
        {"HTTP/1.0 200 OK\r\n\r\nhello", -1},
        {"HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nhello", -5},
        {"HTTP/1.0 200 OK\r\nContent-Length: abc\r\n\r\nhello", -1},
        {"HTTP/1.0 200 OK\r\nContent-Length: 99999999999\r\n\r\nhello", -1},
        {"HTTP/1.0 200 OK\r\nContent-Length:", -1},
        {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n", 5},     // no blank line
        {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", 0}, // empty body
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Serve(c.response), DOWNLOAD_FAILED) << c.response;
        EXPECT_EQ(m_engine.m_nContentLength, c.contentLength) << c.response;
        EXPECT_FALSE(FileExists(m_file)) << c.response;
    }
}

TEST_F(HttpDownloadTest, BodyMustMatchTheAnnouncedLength)
{
    const struct {
        Server::Script script;
        int result;
    } cases[] = {
        {{Server::Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello")}, DOWNLOAD_TRANSFER},
        {{Server::Send("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nhello")}, DOWNLOAD_FAILED},
        {{Server::Send("HTTP/1.0 200 OK\r\nContent-Length: 2000\r\n\r\n" + Body(1500)),
          Server::Send(Body(501))},
         DOWNLOAD_FAILED},
        {{Server::Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + Body(2000)), Server::Reset()},
         DOWNLOAD_TRANSFER},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(CopyFileA((ExeFolder() + "fake_noversion.exe").c_str(), m_file.c_str(), FALSE));
        s_server->Respond(c.script);
        EXPECT_EQ(Get(), c.result);
        // The old file was replaced and the cut one removed: nothing is left to run.
        EXPECT_FALSE(FileExists(m_file));
        EXPECT_EQ(m_recorder.Drain().back(), RecordedMessage({UM_TRANSFER_STATE, 20, 0}));
    }
}

TEST_F(HttpDownloadTest, FileThatCannotBeOpenedOrWritten)
{
    s_server->Respond({Server::Send(Ok("hello"))});
    const std::string missing = m_folder + "no\\such\\folder\\f.bin";
    EXPECT_EQ(m_engine.HttpDownload("http://127.0.0.10/f", missing.c_str(), false), DOWNLOAD_FAILED);

    // A pipe whose reader goes away after the first bytes: later writes fail.
    const std::string pipe = "\\\\.\\pipe\\http-download-test";
    HANDLE server = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                                     4096, 0, nullptr);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    std::thread reader([server] {
        ConnectNamedPipe(server, nullptr);
        char first[16];
        DWORD n = 0;
        ReadFile(server, first, sizeof first, &n, nullptr);
        CloseHandle(server);
    });
    s_server->Respond({Server::Send(Ok(Body(200000)))});
    EXPECT_EQ(m_engine.HttpDownload("http://127.0.0.10/f", pipe.c_str(), false), DOWNLOAD_FAILED);
    reader.join();
}

TEST_F(HttpDownloadTest, CancelDuringTheBodyRemovesTheFile)
{
    // The first part is longer than the header buffer, so the body loop has
    // taken some of it when the server pauses.
    s_server->Respond({Server::Send("HTTP/1.0 200 OK\r\nContent-Length: 6000\r\n\r\n" + Body(2000)),
                       Server::Pause(), Server::Send(Body(2000)), Server::Pause(), Server::Send(Body(2000))});
    const int pausesBefore = s_server->PausesReached();
    int result = 0;
    std::thread download([&] { result = Get(); });
    s_server->WaitForPauses(pausesBefore + 1);
    while (m_engine.m_nReceived < 2000)
        Sleep(1);
    EXPECT_TRUE(FileExists(m_file));
    m_engine.m_bCancel = true;
    s_server->Resume();
    download.join();
    s_server->Resume(); // let the server finish its script
    EXPECT_EQ(result, DOWNLOAD_CANCELLED);
    EXPECT_GT(m_engine.m_nReceived, 2000); // the receive in progress was completed first
    EXPECT_FALSE(FileExists(m_file));
    EXPECT_EQ(m_recorder.Drain(), Phases({0, 10, 20}));
}

TEST_F(HttpDownloadTest, CancelBeforeConnecting)
{
    const size_t before = s_server->Requests().size();
    m_engine.m_bCancel = true;
    EXPECT_EQ(Get(), DOWNLOAD_CANCELLED);
    EXPECT_TRUE(m_recorder.Drain().empty());
    EXPECT_EQ(s_server->Requests().size(), before);
}

TEST_F(HttpDownloadTest, RefusedConnection)
{
    const std::string url = std::string("http://") + kNobody + "/f";
    EXPECT_EQ(m_engine.HttpDownload(url.c_str(), m_file.c_str(), true), DOWNLOAD_TRANSFER);
    EXPECT_EQ(m_recorder.Drain(), Phases({0}));
}

TEST_F(HttpDownloadTest, PhasesStopWhereTheCallFailed)
{
    EXPECT_EQ(Serve("HTTP/1.1 404 Not Found\r\n\r\nx"), 404);
    EXPECT_EQ(m_recorder.Drain(), Phases({0, 10}));
}

TEST_F(HttpDownloadTest, HostNameIsResolved)
{
    // "localhost" goes through name resolution to 127.0.0.1, where the fixture
    // server is not: the connection is refused, so resolution succeeded.
    EXPECT_EQ(m_engine.HttpDownload("http://localhost/f", m_file.c_str(), false), DOWNLOAD_TRANSFER);
}

} // namespace
