// Whole update runs on the worker thread against a private nginx on 127.0.0.1:80
// (and the in-process test server on 127.0.0.12 where a download must be slow):
// the complete sequence of posted messages, which packages ran, what is left on disk.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "MessageRecorder.h"
#include "TestHttpServer.h"
#include "engine/UpdateEngine.h"

namespace {

const char kSlowServer[] = "127.0.0.12";
using Messages = std::vector<RecordedMessage>;

RecordedMessage Info(WPARAM phase, LPARAM result = 0)
{
    return {UM_INFO_STATE, phase, result};
}
RecordedMessage Package(WPARAM phase, LPARAM result = 0)
{
    return {UM_PACKAGE_STATE, phase, result};
}
RecordedMessage Error(WPARAM phase)
{
    return {UM_UPDATE_ERROR, phase, 0};
}
RecordedMessage Result(WPARAM phase)
{
    return {UM_UPDATE_RESULT, phase, 0};
}

Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The transfer phases of a download that got through `last`.
Messages Transfer(WPARAM last = 30)
{
    Messages m;
    for (WPARAM p = 0; p <= last; p += 10)
        m.push_back({UM_TRANSFER_STATE, p, 0});
    return m;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

class UpdateWorkerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        s_slow = new CTestHttpServer(kSlowServer);
    }
    static void TearDownTestSuite()
    {
        delete s_slow;
        WSACleanup();
    }

    void SetUp() override
    {
        const char* www = getenv("E2E_WWW");
        ASSERT_NE(www, nullptr) << "run through ctest: the nginx fixture sets E2E_WWW";
        m_download = "Z:" + std::string(www) + "/download/";
        for (char& c : m_download)
            c = c == '/' ? '\\' : c;
        ASSERT_TRUE(FileExists(m_download)) << m_download;

        m_folder = MakeTempFolder("worker");
        m_log = m_folder + "packages.log";
        SetEnvironmentVariableA("PACKAGE_LOG", m_log.c_str());
        Configure(m_engine);
    }
    // What Init would have set, with the test's own folder and window.
    void Configure(CUpdateEngine& engine)
    {
        engine.m_strFolder = m_folder;
        engine.m_strModuleName = "Module_Client_Updater_BAK.exe";
        engine.m_strInfoUrl = "http://127.0.0.1/download/update_info.php?v=01020003";
        engine.m_hNotifyWnd = m_recorder.Window();
    }
    void TearDown() override
    {
        for (const std::string& f : m_published)
            DeleteFileA(f.c_str());
        RemoveFolder(m_folder);
    }

    void PublishInfo(const std::string& text) { Publish("update_info.php", text); }
    void Publish(const std::string& name, const std::string& bytes)
    {
        WriteFile(m_download + name, bytes);
        m_published.push_back(m_download + name);
    }
    void PublishPackage(const std::string& name) { Publish(name, PackageBytes()); }
    static std::string PackageBytes() { return ReadFileBytes(ExeFolder() + "fake_package.exe"); }
    static std::string Url(const std::string& name) { return "http://127.0.0.1/download/" + name; }
    static std::string PackageList(const std::vector<std::string>& urls)
    {
        std::string text = "Vantorel update\n1.2.3\n\nupdate_files:\n";
        for (const std::string& u : urls)
            text += u + "\n";
        return text;
    }

    // Starts a run, pumps messages until the worker has ended and returns what
    // it posted; m_exitCode is the thread's result.
    Messages Run(CUpdateEngine& engine)
    {
        m_recorder.Clear();
        m_exitCode = 99;
        EXPECT_EQ(engine.Start(), 0);
        HANDLE thread = engine.m_hThread;
        while (thread && MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0)
            m_recorder.Drain();
        GetExitCodeThread(thread, &m_exitCode);
        return m_recorder.Drain();
    }
    Messages Run() { return Run(m_engine); }
    std::string PackagesRun() { return FileExists(m_log) ? ReadFileBytes(m_log) : std::string(); }
    std::string UpdateFolder() { return m_folder + "update_files"; }

    static CTestHttpServer* s_slow;
    CMessageRecorder m_recorder;
    CUpdateEngine m_engine;
    std::string m_download; // nginx's /download/ folder, as a Windows path
    std::string m_folder;
    std::string m_log;
    std::vector<std::string> m_published;
    DWORD m_exitCode = 99;
};

CTestHttpServer* UpdateWorkerTest::s_slow = nullptr;

const Messages kInfoOk = Messages{Info(0)} + Transfer() + Messages{Info(10)};

TEST_F(UpdateWorkerTest, VerdictsThatEndTheRun)
{
    const struct {
        const char* info;
        Messages last;
        DWORD exitCode;
    } cases[] = {
        {"a\nb\nc\nlatest\n", {Result(0)}, 0},
        {"a\r\nb\r\nc\r\ntoo_old\r\n", {Result(10)}, 0},
        {"a\nb\nc\nLatest\n", {Error(10)}, 1},
        {"a\nb\nc\nlatest", {Error(10)}, 1},
    };
    for (const auto& c : cases) {
        CUpdateEngine engine; // one run per engine
        Configure(engine);
        PublishInfo(c.info);
        EXPECT_EQ(Run(engine), kInfoOk + c.last) << c.info;
        EXPECT_EQ(m_exitCode, c.exitCode) << c.info;
        EXPECT_FALSE(FileExists(UpdateFolder())) << c.info;
    }
}

TEST_F(UpdateWorkerTest, InfoNotFoundLeavesTheFolder)
{
    CreateDirectoryA(UpdateFolder().c_str(), nullptr);
    WriteFile(UpdateFolder() + "\\stale.exe", "old");
    CreateDirectoryA((UpdateFolder() + "\\sub").c_str(), nullptr);
    WriteFile(UpdateFolder() + "\\sub\\deeper.txt", "old");

    m_engine.m_strInfoUrl = "http://127.0.0.1/download/missing.php?v=01020003";
    const Messages expected = Messages{Info(0)} + Transfer(10) + Messages{Info(20, 404)};
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_exitCode, 1u);
    // The folder stays, made afresh: what the last run left was cleared first.
    EXPECT_TRUE(FileExists(UpdateFolder()));
    EXPECT_FALSE(FileExists(UpdateFolder() + "\\stale.exe"));
    EXPECT_FALSE(FileExists(UpdateFolder() + "\\sub"));
}

TEST_F(UpdateWorkerTest, TwoPackagesDownloadedThenRunInOrder)
{
    PublishPackage("b_first.exe");
    PublishPackage("a_second.exe");
    PublishInfo(PackageList({Url("b_first.exe"), "", Url("a_second.exe")}));
    const Messages expected = kInfoOk + Messages{Package(0)} + Transfer() + Messages{Package(10)} + Transfer()
                              + Messages{Package(10), Result(20)};
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_exitCode, 0u);
    EXPECT_EQ(PackagesRun(), "b_first.exe\na_second.exe\n");
    EXPECT_FALSE(FileExists(UpdateFolder()));
}

TEST_F(UpdateWorkerTest, EmptyPackageListStillSucceeds)
{
    PublishInfo(PackageList({}));
    const Messages expected = kInfoOk + Messages{Package(0), Result(20)};
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_exitCode, 0u);
    EXPECT_FALSE(FileExists(UpdateFolder()));
}

TEST_F(UpdateWorkerTest, FailedPackageStopsBeforeAnythingRuns)
{
    PublishPackage("a.exe");
    const struct {
        std::string second;
        Messages tail;
    } cases[] = {
        {Url("missing.exe"), Transfer(10) + Messages{Package(20, 404)}},
        {"http://127.0.0.1/download/", {Error(10)}},
        // Names that would put the file outside the download folder.
        {"http://127.0.0.1/download/..\\..\\evil.exe", {Error(10)}},
        {"http://127.0.0.1/download/c:evil.exe", {Error(10)}},
        {"http://127.0.0.1/download/x/..", {Error(10)}},
        {"http://127.0.0.1/download/.", {Error(10)}},
    };
    const Messages firstDone = kInfoOk + Messages{Package(0)} + Transfer() + Messages{Package(10)};
    for (const auto& c : cases) {
        CUpdateEngine engine;
        Configure(engine);
        PublishInfo(PackageList({Url("a.exe"), c.second}));
        EXPECT_EQ(Run(engine), firstDone + c.tail) << c.second;
        EXPECT_EQ(m_exitCode, 1u);
        EXPECT_EQ(PackagesRun(), "") << c.second;
        EXPECT_FALSE(FileExists(UpdateFolder())) << c.second;
        EXPECT_FALSE(FileExists(m_folder + "evil.exe"));
    }
}

TEST_F(UpdateWorkerTest, PackageThatIsNotAProgram)
{
    PublishPackage("a.exe");
    Publish("readme.exe", "this is only text\r\n");
    PublishInfo(PackageList({Url("a.exe"), Url("readme.exe")}));
    const Messages expected = kInfoOk + Messages{Package(0)} + Transfer() + Messages{Package(10)} + Transfer()
                              + Messages{Package(10), Error(20)};
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_exitCode, 1u);
    EXPECT_EQ(PackagesRun(), "a.exe\n"); // what ran before stays done
    EXPECT_FALSE(FileExists(UpdateFolder()));
}

TEST_F(UpdateWorkerTest, LeftoverFolderInUse)
{
    CreateDirectoryA(UpdateFolder().c_str(), nullptr);
    HANDLE busy = CreateFileA((UpdateFolder() + "\\busy.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    PublishInfo("a\nb\nc\nlatest\n");
    const Messages expected = {Error(0)};
    EXPECT_EQ(Run(), expected);
    EXPECT_EQ(m_exitCode, 1u);
    CloseHandle(busy);
}

TEST_F(UpdateWorkerTest, CancelDuringTheSecondOfThreePackages)
{
    const std::string package = PackageBytes();
    const std::string head =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(package.size()) + "\r\n\r\n";
    s_slow->Respond({CTestHttpServer::Send(head + package)});
    s_slow->Respond({CTestHttpServer::Send(head + package.substr(0, 4000)), CTestHttpServer::Pause(),
                     CTestHttpServer::Send(package.substr(4000))});
    s_slow->RespondOk(package);
    PublishInfo(
        PackageList({"http://127.0.0.12/a.exe", "http://127.0.0.12/b.exe", "http://127.0.0.12/c.exe"}));

    const int pauses = s_slow->PausesReached();
    ASSERT_EQ(m_engine.Start(), 0);
    s_slow->WaitForPauses(pauses + 1);
    while (m_engine.m_nReceived < 1000)
        Sleep(1);
    m_engine.m_bCancel = true; // what the dialog's quit does
    s_slow->Resume();
    WaitForSingleObject(m_engine.m_hThread, INFINITE);
    const Messages expected = kInfoOk + Messages{Package(0)} + Transfer() + Messages{Package(10)}
                              + Transfer(20) + Messages{Package(20, DOWNLOAD_CANCELLED)};
    EXPECT_EQ(m_recorder.Drain(), expected);
    EXPECT_EQ(PackagesRun(), "");
    EXPECT_FALSE(FileExists(UpdateFolder()));
    EXPECT_EQ(s_slow->Requests().size() % 3, 2u); // c.exe was never asked for
    s_slow->Respond({});                          // nobody takes the third script now
}

TEST_F(UpdateWorkerTest, OneRunPerEngine)
{
    PublishInfo("a\nb\nc\nlatest\n");
    m_engine.m_bCancel = true; // Start clears it
    EXPECT_EQ(Run().back(), Result(0));
    EXPECT_FALSE(m_engine.m_bCancel);
    const HANDLE first = m_engine.m_hThread;
    EXPECT_EQ(m_engine.Start(), 1);
    EXPECT_EQ(m_engine.m_hThread, first);
}

TEST(PackageFileName, LastSegmentStaysInsideTheFolder)
{
    const struct {
        const char* url;
        const char* name; // null: refused
    } cases[] = {
        {"http://h/dir/setup.exe", "setup.exe"},
        {"http://host", "host"},
        {"http://h/s.exe?x=1", "s.exe?x=1"},
        {"http://h/a b.exe ", "a b.exe "},
        {"http://h/dir/", nullptr},
        {"nothing", nullptr},
        {"http://h/..", nullptr},
        {"http://h/.", nullptr},
        {"http://h/...", "..."},
        {"http://h/..\\x.exe", nullptr},
        {"http://h/d:x.exe", nullptr},
    };
    for (const auto& c : cases) {
        std::string name = "unchanged";
        EXPECT_EQ(engine_detail::PackageFileName(c.url, name), c.name != nullptr) << c.url;
        EXPECT_EQ(name, c.name ? c.name : "unchanged") << c.url;
    }
}

} // namespace
