// The relaunch script alone, run by the system's batch interpreter: the copy gets its
// command line exactly as given, from a plain folder and from one whose name the
// interpreter would misread (on either code page), and the script deletes the copy and
// itself. Then the installed program started as a user starts it, against the private
// nginx of the worker tests, in a folder whose path holds blanks and letters beyond
// ASCII: the relaunch from the copy, the script and the clean-up, quiet and visible
// runs, an update with the main program running, and quitting from the notifier.
// Observed from outside: files, processes, windows and the server's log.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/RelaunchScript.h"
#include "framework/DeviceContexts.h"
#include "framework/UserText.h"
#include "ui/TaskbarNotifier.h"

namespace {

TEST(RelaunchScript, CommandLineArrivesUnchangedAndNothingIsLeft)
{
    const std::string temp = MakeTempFolder("relaunch");
    const std::string odd = temp + Ansi(L"50% ^&(x) !\u00fc!") + "\\";
    ASSERT_TRUE(CreateDirectoryA(odd.c_str(), nullptr));
    int run = 0;
    for (const std::string& folder : {temp, odd}) {
        const std::string copy = folder + "fake_noversion_BAK.exe";
        for (const char* commandLine :
             {"", "1", "1 ", "50% %PATH% %%x%% %~dp0", "a & del x | y > z < w ^ (p)",
              "\"a & b (c)\" d & \"%e%\"", "\"unclosed ( & ^", "x^^y ! !z!"}) {
            SCOPED_TRACE(folder + " " + commandLine);
            // A log of its own each time: a deleted file can linger while a handle to it does.
            const std::string log = temp + "args" + std::to_string(++run) + ".txt";
            SetEnvironmentVariableA("ARGS_LOG", log.c_str());
            std::string script;
            ASSERT_EQ(PrepareRelaunch(ExeFolder() + "fake_noversion.exe", folder, commandLine, script),
                      RelaunchPrepared::Ready);
            CHandle process;
            ASSERT_TRUE(StartRelaunchScript(script, process));
            EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
            EXPECT_EQ(ReadFileBytes(log), commandLine);
            EXPECT_FALSE(FileExists(copy));
            // The first script left behind ends the table: the later rows would only wait as long.
            ASSERT_TRUE(PumpUntil([&] { return !FileExists(script); }, 15000)) << "the script deletes itself";
        }
    }
    SetEnvironmentVariableA("ARGS_LOG", nullptr);
    const std::string script = temp + "update.bat";
    for (const char* commandLine : {"1\r\ndel x", "1\ndel x", "1\rdel x"})
        EXPECT_FALSE(WriteRelaunchScript(script, temp + "x_BAK.exe", commandLine))
            << "one line cannot carry it";
    EXPECT_FALSE(FileExists(script));
    RemoveFolder(temp);
}

const char kCopyName[] = "Module_Client_Updater_BAK.exe";

// The copy's visible notifier, or null: no other window here has its cancel button.
const auto Popup = [] {
    return FindTopWindow([](HWND hWnd) { return GetDlgItem(hWnd, IDC_NOTIFIER_CANCEL) != nullptr; });
};

class WholeProgram : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CopyFileA((ExeFolder() + "Module_Client_Updater.exe").c_str(),
                              (m_app + "Module_Client_Updater.exe").c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA((ExeFolder() + "fake_1_2_3_4.exe").c_str(), (m_app + "Vantorel.exe").c_str(), FALSE));
        SetEnvironmentVariableA("PACKAGE_LOG", (m_folder + "ran.log").c_str());
        SetServerSetting(std::string("http://127.0.0.1/download/update_info.php") + '\0');
    }
    ~WholeProgram() override
    {
        EndCopies();
        SetServerSetting("");
        RemoveFolder(m_folder);
    }
    void EndCopies()
    {
        for (const DWORD id : ProcessIds(kCopyName))
            CFake(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id)); // ended as it goes
    }
    // Starts the installed program once for each argument text, all at the same
    // moment; each ends at once.
    void Launch(std::initializer_list<const char*> argumentTexts, const std::string& app = std::string())
    {
        std::vector<CFake> started;
        for (const char* arguments : argumentTexts) {
            started.push_back(
                StartProgram((app.empty() ? m_app : app) + "Module_Client_Updater.exe", arguments));
            ASSERT_TRUE(started.back());
        }
        for (const CFake& process : started)
            EXPECT_EQ(WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
    }
    // Nothing of the copy is left: process, file, script and download folder.
    bool CleanedUp(const std::string& folder)
    {
        return PumpUntil(
            [&] {
                return ProcessIds(kCopyName).empty() && !FileExists(folder + kCopyName)
                       && !FileExists(folder + "update.bat") && !FileExists(folder + "update_files");
            },
            15000);
    }
    size_t InfoRequests(const std::string& request = "/download/update_info.php?v=01020003 ")
    {
        const std::string log = m_site.Log();
        size_t n = 0;
        for (size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1))
            ++n;
        return n;
    }
    void Cancel()
    {
        HWND popup = nullptr;
        ASSERT_TRUE(PumpUntil([&] { return (popup = Popup()) != nullptr; }));
        SendMessageA(GetDlgItem(popup, IDC_NOTIFIER_CANCEL), BM_CLICK, 0, 0);
    }

    CNginxSite m_site;
    std::string m_folder = MakeTempFolder("whole");
    // Letters beyond ASCII and Chinese ones, as many users' installations have; the tests
    // name a folder by its short name where the code page lacks its letters, but start
    // programs by their long paths, as the user's shell does.
    std::string m_app = [this] {
        const std::string first = m_folder + Ansi(L"my app f\u00fcr\\");
        const std::wstring second = Widen(first, CP_ACP) + L"\u4e07\u901a";
        CreateDirectoryA(first.c_str(), nullptr);
        CreateDirectoryW(second.c_str(), nullptr);
        wchar_t shortPath[MAX_PATH] = L"";
        GetShortPathNameW(second.c_str(), shortPath, MAX_PATH);
        return first + (GetACP() == 936 ? Ansi(L"\u4e07\u901a") : Ansi(wcsrchr(shortPath, L'\\') + 1)) + "\\";
    }();
};

// An update with the main program running, from two starts at once: one copy, one run,
// one question; starts while it asks leave it alone. The log tells support what a run
// did: the URL asked, each package and its exit code. An oversized log is put aside at
// the start.
TEST_F(WholeProgram, UpdateWithTheMainProgramRunningThenCancel)
{
    for (const char* name : {"a.exe", "exit3010.exe"})
        m_site.Publish(name, ReadFileBytes(ExeFolder() + "fake_noversion.exe"));
    m_site.Publish(
        "update_info.php",
        "a\nb\nc\nupdate_files:\nhttp://127.0.0.1/download/a.exe\nhttp://127.0.0.1/download/exit3010.exe\n");
    const std::string log = ScratchFolder() + "updater.log";
    RemoveFolder(log); // a folder an interrupted run left there
    WriteFileBytes(log, std::string(1100000, 'x'));
    const CFake main = StartFake(m_app, "Vantorel.exe", "wait", "fake_1_2_3_4.exe");
    size_t copies = 0;
    CBoxWatcher watcher(
        [&](size_t) {
            Launch({"", "1"});
            copies = ProcessIds(kCopyName).size();
            return IDYES;
        },
        1, {main});
    const size_t requests = InfoRequests();
    Launch({"-x & %y% (z)", ""}); // the relaunch script's own tests read what the copy is given
    EXPECT_TRUE(PumpUntil([&] { return ReadFileBytes(m_folder + "ran.log") == "a.exe\nexit3010.exe\n"; }));
    EXPECT_EQ(copies, 1u);
    EXPECT_EQ(InfoRequests(), requests + 1);
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].caption, "请关闭Vantorel主程序");
    EXPECT_EQ(WaitForSingleObject(main, 0), WAIT_OBJECT_0);
    // The program stays until the user cancels.
    EXPECT_TRUE(PumpUntil([&] { return !FileExists(m_app + "update_files"); }));
    Cancel();
    EXPECT_TRUE(CleanedUp(m_app));
    EXPECT_EQ(ReadFileBytes(log + ".1").size(), 1100000u);
    const std::string text = ReadFileBytes(log);
    for (const char* fact :
         {"url=http://127.0.0.1/download/update_info.php?v=01020003 ", "file=exit3010.exe", "code=3010"})
        EXPECT_NE(text.find(fact), std::string::npos) << fact << " in\n" << text;
    const size_t at = text.find(" installation=\"");
    EXPECT_LT(text.find("\\\\my app f\xc3\xbcr\\\\", at), text.find('\n', at)) << "UTF-8 in\n" << text;
    DeleteFileA((log + ".1").c_str());
}

// A folder holds the copy's name in the installation and in the scratch place: the
// user is told.
TEST_F(WholeProgram, StartUpFailureIsTold)
{
    const std::string scratch = ScratchFolder();
    for (const std::string& folder : {m_app, scratch}) {
        RemoveFolder(folder + kCopyName); // or a copy an interrupted run left
        ASSERT_TRUE(CreateDirectoryA((folder + kCopyName).c_str(), nullptr));
    }
    CBoxWatcher watcher([](size_t) { return IDOK; }, 1, {});
    Launch({"1"});
    RemoveDirectoryA((scratch + kCopyName).c_str());
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, "复制更新程序时出错");
}

// A per-machine installation its user cannot write: the copy, the script and the
// packages go to the scratch place, the main program is still found, and nothing is
// left anywhere. A folder in the log's place changes nothing. The server is a release
// published with the signed answers and the location block the release tool wrote
// (release-server.sh): the installed 1.2.3.4, which requires signed answers, is offered
// the package and runs it.
TEST_F(WholeProgram, ReadOnlyInstallationUpdatesFromTheScratchPlace)
{
    const std::string app = FixtureFolder("READ_ONLY_INSTALL"), scratch = ScratchFolder(),
                      log = scratch + "updater.log";
    DeleteFileA(log.c_str());
    ASSERT_TRUE(CreateDirectoryA(log.c_str(), nullptr));
    SetServerSetting(std::string("http://127.0.0.13/download/update_info.php") + '\0');
    CBoxWatcher watcher([](size_t) { return IDOK; }, 1, {});
    Launch({"1"}, app);
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(m_folder + "ran.log") == "setup.exe\n"; }));
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_TRUE(FileExists(scratch + kCopyName));
    Cancel();
    EXPECT_TRUE(CleanedUp(scratch));
    RemoveFolder(log);
}

// A start while a copy only sits in the tray makes it end and checks afresh, by hand
// or quietly: never a box, never two copies.
TEST_F(WholeProgram, StartWhileACopySitsInTheTrayChecksAfresh)
{
    m_site.Publish("update_info.php", "a\nb\nc\nlatest\n");
    CBoxWatcher watcher([](size_t) { return IDOK; }, 0, {});
    const size_t requests = InfoRequests();
    // The run of the only copy has ended and its folder is gone.
    const auto RunOver = [&](size_t n) {
        return PumpUntil([&] { return InfoRequests() == n && !FileExists(m_app + "update_files"); });
    };
    Launch({""});
    ASSERT_TRUE(RunOver(requests + 1));
    Launch({""});
    EXPECT_TRUE(RunOver(requests + 2));
    EXPECT_EQ(ProcessIds(kCopyName).size(), 1u);
    Launch({"1"});
    EXPECT_TRUE(CleanedUp(m_app));
    EXPECT_EQ(InfoRequests(), requests + 3);
    EXPECT_TRUE(watcher.Boxes().empty());
}

// A package download that the server stalls shows its progress, and ends when the user
// cancels, not minutes later.
TEST_F(WholeProgram, ProgressThenCancelWhileTheServerStalls)
{
    CTestServer server("127.0.0.3");
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n";
    server.Queue({head + std::string(5000, 'x'), 0, head.size() + 2000});
    m_site.Publish("update_info.php", "a\nb\nc\nupdate_files:\nhttp://127.0.0.3/a.exe\n");
    Launch({""});
    ASSERT_TRUE(PumpUntil([&] { return server.Requests().size() == 1; }));
    // 2000 of 5000 bytes: the bar (10 to 230, framed) is green from 11 to 97.
    const auto pixel = [](HWND popup, int x) {
        RECT rc;
        GetWindowRect(popup, &rc);
        return GetPixel(CClientDC(nullptr), rc.left + x, rc.top + 53);
    };
    HWND popup = nullptr;
    EXPECT_TRUE(PumpUntil([&] {
        return (popup = Popup()) && pixel(popup, 97) == RGB(0, 225, 50)
               && pixel(popup, 98) != RGB(0, 225, 50);
    }));
    Cancel();
    EXPECT_TRUE(CleanedUp(m_app));
    server.Resume();
}

// What an administrator sets: updates off or by hand only, for the machine or the user
// (the machine's value wins), and a server of the company's own.
TEST_F(WholeProgram, PoliciesDecideWhetherAndWhereItAsks)
{
    m_site.Publish("update_info.php", "a\nb\nc\nlatest\n");
    m_site.Publish("mirror.php", "a\nb\nc\nlatest\n");
    const char kKey[] = "Software\\Policies\\Vantorel\\Updater",
               kAsked[] = "/download/update_info.php?v=01020003 ";
    const auto clear = [&] {
        for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
            RegDeleteTreeA(root, kKey);
    };
    // A value that cannot be used is ignored: one of the wrong type, a URL the download
    // would refuse, one whose two-byte characters run past 299 bytes.
    const std::string longUrl =
        "http://127.0.0.1/download/mirror.php?x=" + Ansi(std::wstring(135, L'\u00fc').c_str());
    const struct {
        DWORD machine, user;           // UpdateDefault, 9 when not set
        std::string url;               // the machine's UpdateSvrUrl
        const char *arguments, *asked; // the request made, or none
        DWORD type;                    // of the machine's UpdateDefault
    } cases[] = {
        {0, 9, "", "1", nullptr, REG_DWORD},
        {0, 9, "", "", nullptr, REG_DWORD},
        {9, 2, "", "1", nullptr, REG_DWORD},
        {9, 2, "", "", kAsked, REG_DWORD},
        {1, 0, "", "1", kAsked, REG_DWORD},
        {0, 9, "", "1", kAsked, REG_BINARY},
        {9, 9, "http://127.0.0.1/download/mirror.php", "1", "/download/mirror.php?v=01020003 ", REG_DWORD},
        {9, 9, "HTTPS://127.0.0.1/download/mirror.php", "1", kAsked, REG_DWORD},
        {9, 9, longUrl, "1", "/download/mirror.php?x=", REG_DWORD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.machine << " " << c.user << " '" << c.arguments << "'");
        clear();
        if (c.machine != 9)
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, "UpdateDefault", c.type, &c.machine, sizeof(DWORD));
        if (c.user != 9)
            RegSetKeyValueA(HKEY_CURRENT_USER, kKey, "UpdateDefault", REG_DWORD, &c.user, sizeof(DWORD));
        if (!c.url.empty())
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kKey, "UpdateSvrUrl", REG_SZ, c.url.c_str(),
                            static_cast<DWORD>(c.url.size() + 1));
        const size_t before = InfoRequests(c.asked ? c.asked : kAsked);
        Launch({c.arguments});
        // A start at logon that may not check ends before anything; one by hand says why.
        char text[64] = "";
        EXPECT_TRUE(c.asked        ? PumpUntil([&] { return InfoRequests(c.asked) == before + 1; })
                    : *c.arguments ? !FileExists(m_app + kCopyName)
                                   : PumpUntil([&] {
                                         return Popup() && GetWindowTextA(Popup(), text, sizeof text)
                                                && std::string(text) == "自动更新已被管理员关闭。";
                                     }));
        EXPECT_EQ(InfoRequests(c.asked ? c.asked : kAsked), before + (c.asked ? 1 : 0));
        EndCopies();
    }
    clear();
}

} // namespace
