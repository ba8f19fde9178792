// Whole update runs on the worker thread against a private nginx on 127.0.0.1: every
// posted message, which packages ran, what is left on disk and what keeps running.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/PackageTrust.h"
#include "engine/UpdateEngine.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using Messages = std::vector<Posted>;
Messages operator+(Messages a, const Messages& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
const auto Info = [](WPARAM phase, LPARAM result = 0) { return Messages{{UM_INFO_STATE, phase, result}}; };
const auto Package = [](WPARAM phase, LPARAM rc = 0) { return Messages{{UM_PACKAGE_STATE, phase, rc}}; };
const auto Error = [](WPARAM phase) { return Messages{{UM_UPDATE_ERROR, phase, 0}}; };
const auto Result = [](WPARAM phase) { return Messages{{UM_UPDATE_RESULT, phase, 0}}; };
const Messages kInfoOk = Info(0) + TransferPhases() + Info(10);
const Messages kDownloaded = TransferPhases() + Package(10);
const Messages kTwoDownloaded = kDownloaded + kDownloaded;
const auto Url = [](const std::string& name) { return "http://127.0.0.1/download/" + name; };
// Copies of the fake program signed afresh by the test set-up, as published.
const auto Signed = [](const std::string& name) { return Url("signed_" + name + ".exe"); };

// Packages that another program could have rewritten as they were started.
std::vector<std::string> g_writableAtStart;

// Packages named "admin..." need elevation, and the prompt for "admin_refused..." is
// refused; the others start as usual.

BOOL WINAPI StartNeedingElevation(LPCSTR app, LPSTR cmd, LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                                  BOOL inherit, DWORD flags, LPVOID env, LPCSTR dir, LPSTARTUPINFOA si,
                                  LPPROCESS_INFORMATION pi)
{
    const HANDLE file =
        CreateFileA(app, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE && CloseHandle(file))
        g_writableAtStart.push_back(app);
    if (strstr(app, "\\admin")) {
        SetLastError(ERROR_ELEVATION_REQUIRED);
        return FALSE;
    }
    return CreateProcessA(app, cmd, pa, ta, inherit, flags, env, dir, si, pi);
}
BOOL WINAPI PromptAnswered(SHELLEXECUTEINFOA* info)
{
    if (strstr(info->lpFile, "\\admin_refused")) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    }
    return ShellExecuteExA(info);
}

class UpdateWorker : public testing::Test {
protected:
    void SetUp() override
    {
        engine_detail::g_pCreateProcess = StartNeedingElevation;
        engine_detail::g_pShellExecuteEx = PromptAnswered;
        WSADATA wsa; // as Init does
        WSAStartup(MAKEWORD(2, 2), &wsa);
        SetEnvironmentVariableA("PACKAGE_LOG", (m_folder + "ran.log").c_str());
    }
    ~UpdateWorker() override
    {
        RemoveFolder(m_folder);
        WSACleanup();
    }
    void PublishList(const std::vector<std::string>& urls)
    {
        std::string text = "Vantorel update\n1.2.3\n\nupdate_files:\n";
        for (const std::string& u : urls)
            text += u + "\n";
        m_site.Publish("update_info.php", text);
    }
    // A fresh engine set up as Init would (one run per engine), after a cancel that
    // Start must clear.
    CUpdateEngine& NewEngine(const std::string& info = "update_info.php")
    {
        m_engine = std::make_unique<CUpdateEngine>();
        m_engine->m_strFolder = m_engine->m_strInstallFolder = m_folder;
        m_engine->m_strModuleName = "Module_Client_Updater_BAK.exe";
        m_engine->m_strInfoUrl = Url(info + "?v=01020003");
        m_engine->m_hNotifyWnd = m_recorder.m_hWnd;
        m_engine->m_bCancel = true;
        return *m_engine;
    }
    // Runs a new engine until the worker ends; what it posted.
    Messages Run(const std::string& info = "update_info.php")
    {
        EXPECT_EQ(NewEngine(info).Start(), 0);
        EXPECT_TRUE(
            PumpUntil([&] { return WaitForSingleObject(m_engine->m_hThread, 0) == WAIT_OBJECT_0; }, 60000));
        GetExitCodeThread(m_engine->m_hThread, &m_exitCode);
        return m_recorder.Take();
    }
    std::string PackagesRun()
    {
        const std::string log = ReadFileBytes(m_folder + "ran.log");
        DeleteFileA((m_folder + "ran.log").c_str());
        return log;
    }
    bool FolderLeft() const { return FileExists(m_folder + "update_files"); }

    CRecorder m_recorder;
    std::unique_ptr<CUpdateEngine> m_engine;
    CNginxSite m_site;
    std::string m_folder = MakeTempFolder("worker");
    DWORD m_exitCode = 99;
};

TEST_F(UpdateWorker, RunsThatEndAtTheVerdict)
{
    std::string largest = "\nb\nc\nlatest\n"; // an update-info file of 64 KiB, and one byte more
    largest.insert(0, 64 * 1024 - largest.size(), 'x');
    const std::string tooLarge = "x" + largest;
    const struct {
        const char* info; // null: the update-info URL answers 404
        Messages messages;
        const char* main = nullptr; // the installed Vantorel.exe, if any
    } cases[] = {
        {"a\nb\nc\nlatest\n", kInfoOk + Result(0)},
        {"a\r\nb\r\nc\r\ntoo_old\r\n", kInfoOk + Result(10)},
        {"a\nb\nc\nLatest\n", kInfoOk + Error(10)},
        {nullptr, Info(0) + TransferPhases(10) + Info(20, 404)},
        {largest.c_str(), kInfoOk + Result(0)},
        {tooLarge.c_str(), Info(0) + TransferPhases(10) + Info(20, -1)},
        // An unsigned answer where the main program requires a signed one.
        {"a\nb\nc\nlatest\n", Info(0) + TransferPhases() + Info(20, -1), "signed\\vrequires.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.info ? c.info : "404");
        // What an earlier run left goes first.
        CreateDirectoryA((m_folder + "update_files").c_str(), nullptr);
        CreateDirectoryA((m_folder + "update_files\\sub").c_str(), nullptr);
        m_site.Publish("update_info.php", c.info ? c.info : "");
        DeleteFileA((m_folder + "Vantorel.exe").c_str());
        if (c.main)
            CopyFileA((ExeFolder() + c.main).c_str(), (m_folder + "Vantorel.exe").c_str(), FALSE);
        EXPECT_EQ(Run(c.info ? "update_info.php" : "missing.php"), c.messages);
        EXPECT_FALSE(FileExists(m_folder + "update_files\\update_info")) << "nothing refused is kept";
        EXPECT_EQ(m_exitCode, std::get<0>(c.messages.back()) == UM_UPDATE_RESULT ? 0u : 1u);
        EXPECT_FALSE(FileExists(m_folder + "update_files\\sub"));
        EXPECT_EQ(FolderLeft(), std::get<0>(c.messages.back()) == UM_INFO_STATE)
            << "only a failed update-info download leaves it";
    }
    // A leftover that cannot be removed, in the folder the 404 left.
    const CHandle busy(CreateFileA((m_folder + "update_files\\busy").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(Run(), Error(0));
}

// The main program runs throughout and the question box is answered Yes: it is
// closed only once every package has arrived and, when the installed main program is
// signed, every package is its publisher's (copies signed afresh by the test set-up).
TEST_F(UpdateWorker, PackagesRunOnlyWhenAllHaveArrivedAndAreTrusted)
{
    // A long name's 8.3 short form, as the system makes it; published first, a file of its own.
    WriteFileBytes(m_folder + "verylongname.exe", "");
    const std::string shortForm = ShortForm(m_folder + "verylongname.exe");
    const std::string alias = shortForm.substr(shortForm.rfind('\\') + 1);
    ASSERT_NE(alias, "");
    m_site.Publish(alias, ReadFileBytes(ExeFolder() + "fake_noversion.exe"));
    for (const char* name : {"a.exe", "b.exe", "admin.exe", "admin_refused.exe", "exit3010.exe",
                             "exit1641.exe", "exit1603.exe", "verylongname.exe"})
        m_site.Publish(name, ReadFileBytes(ExeFolder() + "fake_noversion.exe"));
    m_site.Publish("readme.exe", "only text\r\n");
    for (const char* name : {"a", "b", "altered", "expired", "no_usage", "renewed", "lookalike", "v1_2_3_4",
                             "v1_2_4_0", "v1_2_3_3", "v0_3_4_5", "vhelper", "vcase", "vsecond", "vmissing"})
        m_site.Publish(std::string("signed_") + name + ".exe",
                       ReadFileBytes(ExeFolder() + "signed\\" + name + ".exe"));
    const char* kSignedByA = "signed\\v1_2_3_4.exe"; // product Vantorel 1.2.3.4
    std::vector<std::string> tooMany;
    for (int i = 0; i <= 100; ++i)
        tooMany.push_back(Url("p" + std::to_string(i) + ".exe"));
    const struct {
        std::vector<std::string> urls;
        Messages tail; // after the package phase began
        const char* ran;
        const char* main = nullptr; // copy installed as the main program
    } cases[] = {
        {{Url("b.exe"), "", Url("a.exe")}, kTwoDownloaded + Result(20), "b.exe\na.exe\n"},
        {{}, Result(20), ""},
        {{Url("a.exe"), Url("readme.exe")}, kTwoDownloaded + Error(20), "a.exe\n"},
        {{Url("admin.exe"), Url("b.exe")}, kTwoDownloaded + Result(20), "admin.exe\nb.exe\n"},
        {{Url("admin_refused.exe"), Url("b.exe")}, kTwoDownloaded + Error(20), ""},
        {{Url("a.exe"), Url("missing.exe")}, kDownloaded + TransferPhases(10) + Package(20, 404), nullptr},
        // Installers that succeed, one needing a restart, and one that fails.
        {{Url("exit3010.exe"), Url("exit1641.exe")},
         kTwoDownloaded + Result(20),
         "exit3010.exe\nexit1641.exe\n"},
        {{Url("exit1603.exe"), Url("b.exe")}, kTwoDownloaded + Error(20), "exit1603.exe\n"},
        // No file name, one that would leave the download folder, a device's, one taken
        // already, or too many: nothing is downloaded.
        {{Url("a.exe"), Url("")}, Error(10), nullptr},
        {{Url("a.exe"), Url("..\\..\\evil.exe")}, Error(10), nullptr},
        {{Url("a.exe"), Url("c:evil.exe")}, Error(10), nullptr},
        {{Url("a.exe"), Url("x/..")}, Error(10), nullptr},
        {{Url("a.exe"), Url(".")}, Error(10), nullptr},
        {{Url("COM1")}, Error(10), nullptr},
        {{Url("nul.exe")}, Error(10), nullptr},
        {{Url("a.exe"), Url("old/A.EXE")}, Error(10), nullptr},
        {{Url("a.exe"), Url("a.exe. ")}, Error(10), nullptr},
        {tooMany, Error(10), nullptr},
        // One taken by another spelling, found at its turn.
        {{Url("verylongname.exe"), Url(alias)}, kDownloaded + Error(10), nullptr},
        // Signed by A: its own packages run; a refusal comes before anything is closed or run.
        {{Signed("a")}, kDownloaded + Result(20), "signed_a.exe\n", kSignedByA},
        {{Signed("a"), Signed("b")}, kTwoDownloaded + Error(20), nullptr, kSignedByA},
        {{Url("a.exe")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("altered")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("expired")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("no_usage")}, kDownloaded + Error(20), nullptr, kSignedByA}, // names no usage at all
        // A's subject through a second intermediate of the same root: a renewal.
        {{Signed("renewed")}, kDownloaded + Result(20), "signed_renewed.exe\n", kSignedByA},
        // The main program's signature cut short: it names no publisher, so none runs.
        {{Url("a.exe")}, kDownloaded + Error(20), nullptr, "signed\\damaged.exe"},
        // A's names, from an untrusted root named as the trusted one.
        {{Signed("lookalike")}, kDownloaded + Error(20), nullptr, kSignedByA},
        // No rollback: A's packages naming the installed product (in any case and string
        // table, blanks around it aside) carry at least its product version; A's tools are
        // not judged.
        {{Signed("v1_2_4_0"), Signed("v1_2_3_4"), Signed("vhelper")},
         kTwoDownloaded + kDownloaded + Result(20),
         "signed_v1_2_4_0.exe\nsigned_v1_2_3_4.exe\nsigned_vhelper.exe\n",
         kSignedByA},
        {{Signed("v1_2_3_3")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("v0_3_4_5")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("vcase")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("vsecond")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("vmissing")}, kDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("v1_2_4_0"), Signed("v1_2_3_3")}, kTwoDownloaded + Error(20), nullptr, kSignedByA},
        {{Signed("v1_2_3_3")}, kDownloaded + Result(20), "signed_v1_2_3_3.exe\n", "fake_1_2_3_4.exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.urls.empty() ? "no packages" : c.urls.back());
        // Where nothing is to be closed, no second of grace to wait for.
        const bool bMain = !c.ran || &c == cases || c.main;
        const CFake main =
            bMain ? StartFake(m_folder, "Vantorel.exe", "wait", c.main ? c.main : "fake_noversion.exe")
                  : CFake();
        PublishList(c.urls);
        CBoxWatcher watcher([](size_t) { return IDYES; }, 1, {main});
        EXPECT_EQ(Run(), kInfoOk + Package(0) + c.tail);
        EXPECT_EQ(m_exitCode, std::get<0>(c.tail.back()) == UM_UPDATE_RESULT ? 0u : 1u);
        EXPECT_EQ(PackagesRun(), c.ran ? c.ran : "");
        EXPECT_EQ(watcher.Boxes().size(), bMain && c.ran ? 1u : 0u);
        EXPECT_FALSE(FolderLeft());
        EXPECT_TRUE(!c.main || !strstr(c.main, "signed") || g_writableAtStart.empty())
            << "a checked package is locked until it starts";
        g_writableAtStart.clear();
        EXPECT_TRUE(!main || WaitForSingleObject(main, 0) == (c.ran ? WAIT_OBJECT_0 : WAIT_TIMEOUT))
            << "ended";
    }
    // A main program that cannot be read might be signed: it lets no package run.
    CHandle lock;
    EXPECT_FALSE(CPackageTrust("C:\\no\\such\\Vantorel.exe").Admit(ExeFolder() + "signed\\a.exe", lock));
}

// The box's owner is a window of this thread, where the engine is destroyed when the
// user quits: the box can close only while the destructor handles sent messages. A quit
// while the box is up asks nobody again and starts nothing.
TEST_F(UpdateWorker, QuittingWhileTheQuestionBoxIsUpStartsNothing)
{
    m_site.Publish("a.exe", ReadFileBytes(ExeFolder() + "fake_noversion.exe"));
    PublishList({Url("a.exe")});
    const CFake main = StartFake(m_folder, "Vantorel.exe");
    CBoxWatcher watcher(
        [](size_t) {
            Sleep(500); // the user answers once the quit has begun
            return IDNO;
        },
        1, {main});
    ASSERT_EQ(NewEngine().Start(), 0);
    ASSERT_TRUE(PumpUntil([&] { return !watcher.Boxes().empty(); }));
    const CHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::thread watchdog([&] { // a hang in the destructor cannot end the test by itself
        if (WaitForSingleObject(done, 5000) == WAIT_TIMEOUT) {
            fprintf(stderr, "the engine's destructor never returned\n");
            TerminateProcess(main, 0); // nothing may stay behind the test process
            TerminateProcess(GetCurrentProcess(), 3);
        }
    });
    m_engine.reset();
    SetEvent(done);
    watchdog.join();
    EXPECT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(m_recorder.Take().back(), Package(20, DOWNLOAD_CANCELLED).back());
    EXPECT_EQ(PackagesRun(), "");
    EXPECT_EQ(WaitForSingleObject(main, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(FolderLeft());
}

} // namespace
