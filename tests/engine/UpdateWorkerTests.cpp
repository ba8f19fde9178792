// Whole update runs on the worker thread against a private nginx on 127.0.0.1 (and
// the test server on 127.0.0.12 where a download must be held up): every posted
// message, which packages ran, what is left on disk and what keeps running.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/UpdateEngine.h"

namespace {

using Messages = std::vector<Posted>;

Posted Info(WPARAM phase, LPARAM result = 0)
{
    return {UM_INFO_STATE, phase, result};
}
Posted Package(WPARAM phase, LPARAM result = 0)
{
    return {UM_PACKAGE_STATE, phase, result};
}
Posted Error(WPARAM phase)
{
    return {UM_UPDATE_ERROR, phase, 0};
}
Posted Result(WPARAM phase)
{
    return {UM_UPDATE_RESULT, phase, 0};
}
Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// The transfer phases of a download that got as far as `last`.
Messages Transfer(WPARAM last = 30)
{
    Messages m;
    for (WPARAM p = 0; p <= last; p += 10)
        m.push_back({UM_TRANSFER_STATE, p, 0});
    return m;
}
const Messages kInfoOk = Messages{Info(0)} + Transfer() + Messages{Info(10)};
const Messages kFirstPackage = kInfoOk + Messages{Package(0)} + Transfer() + Messages{Package(10)};

std::string Url(const std::string& name)
{
    return "http://127.0.0.1/download/" + name;
}
std::string PackageList(const std::vector<std::string>& urls)
{
    std::string text = "Vantorel update\n1.2.3\n\nupdate_files:\n";
    for (const std::string& u : urls)
        text += u + "\n";
    return text;
}

class UpdateWorker : public testing::Test {
protected:
    void SetUp() override
    {
        WSADATA wsa; // what Init does
        WSAStartup(MAKEWORD(2, 2), &wsa);
        const char* www = getenv("E2E_WWW");
        ASSERT_NE(www, nullptr) << "run through ctest: the nginx fixture sets E2E_WWW";
        m_www = "Z:" + std::string(www) + "/download/";
        std::replace(m_www.begin(), m_www.end(), '/', '\\');
        SetEnvironmentVariableA("PACKAGE_LOG", (m_folder + "ran.log").c_str());
    }
    ~UpdateWorker() override
    {
        WSACleanup();
        for (const std::string& f : m_published)
            DeleteFileA(f.c_str());
        RemoveFolder(m_folder);
    }
    void Publish(const std::string& name, const std::string& bytes)
    {
        WriteFileBytes(m_www + name, bytes);
        m_published.push_back(m_www + name);
    }
    // Starts a run as Init would have set it up, after a cancel that Start must
    // clear, and pumps until the worker ends; returns what it posted.
    Messages Run(CUpdateEngine& engine, const std::string& infoName = "update_info.php")
    {
        engine.m_strFolder = m_folder;
        engine.m_strModuleName = "Module_Client_Updater_BAK.exe";
        engine.m_strInfoUrl = Url(infoName) + "?v=01020003";
        engine.m_hNotifyWnd = m_recorder.Window();
        engine.m_bCancel = true;
        m_exitCode = 99;
        EXPECT_EQ(engine.Start(), 0);
        EXPECT_TRUE(
            PumpUntil([&] { return WaitForSingleObject(engine.m_hThread, 0) == WAIT_OBJECT_0; }, 60000));
        GetExitCodeThread(engine.m_hThread, &m_exitCode);
        return m_recorder.Take();
    }
    std::string PackagesRun()
    {
        const std::string log = ReadFileBytes(m_folder + "ran.log");
        DeleteFileA((m_folder + "ran.log").c_str());
        return log;
    }
    std::string UpdateFolder() const { return m_folder + "update_files"; }

    CRecorder m_recorder;
    std::string m_www; // nginx's /download/ folder, as a Windows path
    std::string m_folder = MakeTempFolder("worker");
    std::vector<std::string> m_published;
    DWORD m_exitCode = 99;
};

TEST_F(UpdateWorker, RunsThatEndAtTheVerdict)
{
    const struct {
        const char* info; // null: the update-info URL answers 404
        Messages tail;
        DWORD exitCode;
    } cases[] = {
        {"a\nb\nc\nlatest\n", {Result(0)}, 0},
        {"a\r\nb\r\nc\r\ntoo_old\r\n", {Result(10)}, 0},
        {"a\nb\nc\nLatest\n", {Error(10)}, 1},
        {"a\nb\nc\nlatest", {Error(10)}, 1},
        {nullptr, {}, 1},
    };
    CUpdateEngine engine;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.info ? c.info : "404");
        // Leftovers of an earlier run go first.
        CreateDirectoryA(UpdateFolder().c_str(), nullptr);
        CreateDirectoryA((UpdateFolder() + "\\sub").c_str(), nullptr);
        WriteFileBytes(UpdateFolder() + "\\sub\\stale.exe", "old");
        Publish("update_info.php", c.info ? c.info : "");
        CUpdateEngine fresh; // one run per engine
        const Messages expected =
            c.info ? kInfoOk + c.tail : Messages{Info(0)} + Transfer(10) + Messages{Info(20, 404)};
        EXPECT_EQ(Run(fresh, c.info ? "update_info.php" : "missing.php"), expected);
        EXPECT_EQ(m_exitCode, c.exitCode);
        EXPECT_FALSE(FileExists(UpdateFolder() + "\\sub"));
        EXPECT_EQ(FileExists(UpdateFolder()), !c.info) << "only a failed update-info download leaves it";
    }
    Run(engine);
    const HANDLE first = engine.m_hThread;
    EXPECT_EQ(engine.Start(), 1);
    EXPECT_EQ(engine.m_hThread, first);
}

// The main program runs throughout and the question box is answered Yes: it must be
// closed only when every package has been downloaded.
TEST_F(UpdateWorker, PackagesRunOnlyWhenAllArrived)
{
    const std::string package = ReadFileBytes(ExeFolder() + "fake_noversion.exe");
    for (const char* name : {"a.exe", "b_first.exe", "a_second.exe"})
        Publish(name, package);
    Publish("readme.exe", "only text\r\n");
    const struct {
        std::vector<std::string> urls;
        Messages tail;
        const char* ran;
        bool closed;
    } cases[] = {
        {{Url("b_first.exe"), "", Url("a_second.exe")},
         Messages{Package(0)} + Transfer() + Messages{Package(10)} + Transfer()
             + Messages{Package(10), Result(20)},
         "b_first.exe\na_second.exe\n",
         true},
        {{}, {Package(0), Result(20)}, "", true},
        {{Url("a.exe"), Url("readme.exe")},
         Messages{Package(0)} + Transfer() + Messages{Package(10)} + Transfer()
             + Messages{Package(10), Error(20)},
         "a.exe\n",
         true},
        {{Url("a.exe"), Url("missing.exe")},
         Messages{Package(0)} + Transfer() + Messages{Package(10)} + Transfer(10)
             + Messages{Package(20, 404)},
         "",
         false},
        // No file name, or one that would leave the download folder.
        {{Url("a.exe"), Url("")},
         Messages{Package(0)} + Transfer() + Messages{Package(10), Error(10)},
         "",
         false},
        {{Url("a.exe"), Url("..\\..\\evil.exe")},
         Messages{Package(0)} + Transfer() + Messages{Package(10), Error(10)},
         "",
         false},
        {{Url("a.exe"), Url("c:evil.exe")},
         Messages{Package(0)} + Transfer() + Messages{Package(10), Error(10)},
         "",
         false},
        {{Url("a.exe"), Url("x/..")},
         Messages{Package(0)} + Transfer() + Messages{Package(10), Error(10)},
         "",
         false},
        {{Url("a.exe"), Url(".")},
         Messages{Package(0)} + Transfer() + Messages{Package(10), Error(10)},
         "",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.urls.empty() ? "no packages" : c.urls.back());
        HANDLE main = StartFake(m_folder + "app", "Vantorel.exe");
        ASSERT_NE(main, nullptr);
        Publish("update_info.php", PackageList(c.urls));
        CUpdateEngine engine;
        size_t asked = 0;
        {
            CBoxWatcher watcher([](size_t) { return IDYES; }, 1, main);
            EXPECT_EQ(Run(engine), kInfoOk + c.tail);
            asked = watcher.Boxes().size();
        }
        EXPECT_EQ(m_exitCode, c.tail.back().message == UM_UPDATE_RESULT ? 0u : 1u);
        EXPECT_EQ(PackagesRun(), c.ran);
        EXPECT_EQ(asked, c.closed ? 1u : 0u);
        EXPECT_EQ(WaitForSingleObject(main, 0) == WAIT_OBJECT_0, c.closed);
        EXPECT_FALSE(FileExists(UpdateFolder()));
        EXPECT_FALSE(FileExists(m_folder + "evil.exe"));
        TerminateProcess(main, 0);
        WaitForSingleObject(main, 20000);
        CloseHandle(main);
    }
}

TEST_F(UpdateWorker, CancelDuringTheSecondOfThreePackagesClosesAndRunsNothing)
{
    CTestServer slow("127.0.0.12");
    const std::string package = ReadFileBytes(ExeFolder() + "fake_noversion.exe");
    const std::string response =
        "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(package.size()) + "\r\n\r\n" + package;
    slow.Queue({response});
    slow.Queue({response, 0, 4000});
    slow.Queue({response});
    Publish("update_info.php",
            PackageList({"http://127.0.0.12/a.exe", "http://127.0.0.12/b.exe", "http://127.0.0.12/c.exe"}));
    HANDLE main = StartFake(m_folder + "app", "Vantorel.exe");
    CBoxWatcher watcher([](size_t) { return IDYES; }, 1, main);
    CUpdateEngine engine;
    engine.m_strFolder = m_folder;
    engine.m_strModuleName = "Module_Client_Updater_BAK.exe";
    engine.m_strInfoUrl = Url("update_info.php");
    engine.m_hNotifyWnd = m_recorder.Window();
    ASSERT_EQ(engine.Start(), 0);
    ASSERT_TRUE(PumpUntil([&] { return slow.Paused() == 1 && engine.m_nReceived > 1000; }));
    engine.m_bCancel = true; // what quitting does
    slow.Resume();
    EXPECT_TRUE(PumpUntil([&] { return WaitForSingleObject(engine.m_hThread, 0) == WAIT_OBJECT_0; }));
    EXPECT_EQ(m_recorder.Take(), kFirstPackage + Transfer(20) + Messages{Package(20, DOWNLOAD_CANCELLED)});
    EXPECT_EQ(PackagesRun(), "");
    EXPECT_EQ(slow.Requests().size(), 2u) << "c.exe is never asked for";
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_EQ(WaitForSingleObject(main, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(FileExists(UpdateFolder()));
    TerminateProcess(main, 0);
    CloseHandle(main);
}

TEST_F(UpdateWorker, LeftoverFolderInUse)
{
    CreateDirectoryA(UpdateFolder().c_str(), nullptr);
    HANDLE busy = CreateFileA((UpdateFolder() + "\\busy.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, 0, nullptr);
    Publish("update_info.php", "a\nb\nc\nlatest\n");
    CUpdateEngine engine;
    EXPECT_EQ(Run(engine), Messages{Error(0)});
    EXPECT_EQ(m_exitCode, 1u);
    CloseHandle(busy);
}

} // namespace
