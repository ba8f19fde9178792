// The installed program started as a user starts it, against the private nginx of the
// worker tests, in a folder whose path holds a blank: the relaunch from the copy, the
// script and the clean-up, quiet and visible runs, an update with the main program
// running, and quitting from the notifier. Observed from outside: files, processes,
// windows and the server's log.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestWindows.h"
#include "app/RelaunchScript.h"
#include "ui/TaskbarNotifier.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

const char kCopyName[] = "Module_Client_Updater_BAK.exe";
const char kSettingsKey[] = "Software\\Vantorel\\Vantorel\\Settings", kSettingsValue[] = "UpdateSvrUrl";

// The running copies' process ids.
std::vector<DWORD> Copies()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    std::vector<DWORD> ids;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, kCopyName) == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

DWORD CopyProcess()
{
    const std::vector<DWORD> ids = Copies();
    return ids.empty() ? 0 : ids[0];
}

struct PopupSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindPopup(HWND hWnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<PopupSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hWnd, &owner);
    if (owner == search->processId && IsWindowVisible(hWnd) && GetDlgItem(hWnd, IDC_NOTIFIER_CANCEL))
        search->found = hWnd;
    return !search->found;
}

// The copy's visible notifier, or null.
HWND Popup(DWORD processId)
{
    PopupSearch search = {processId, nullptr};
    EnumWindows(FindPopup, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class WholeProgram : public testing::Test {
protected:
    void SetUp() override
    {
        const char* www = getenv("E2E_WWW");
        ASSERT_NE(www, nullptr) << "run through ctest: the nginx fixture sets E2E_WWW";
        m_www = "Z:" + std::string(www) + "/download/";
        std::replace(m_www.begin(), m_www.end(), '/', '\\');
        m_log = "Z:" + std::string(www) + "/../access.log";
        CreateDirectoryA(m_app.c_str(), nullptr);
        ASSERT_TRUE(
            CopyFileA((ExeFolder() + "Module_Client_Updater.exe").c_str(), Installed().c_str(), FALSE));
        ASSERT_TRUE(
            CopyFileA((ExeFolder() + "fake_1_2_3_4.exe").c_str(), (m_app + "Vantorel.exe").c_str(), FALSE));
        SetEnvironmentVariableA("PACKAGE_LOG", (m_folder + "ran.log").c_str());
        HKEY key;
        RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr);
        const char url[] = "http://127.0.0.1/download/update_info.php";
        RegSetValueExA(key, kSettingsValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(url), sizeof url);
        RegCloseKey(key);
    }
    ~WholeProgram() override
    {
        for (const DWORD id : Copies()) {
            const HANDLE copy = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
            TerminateProcess(copy, 1);
            WaitForSingleObject(copy, 10000);
            CloseHandle(copy);
        }
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKey, kSettingsValue);
        for (const char* name : {"update_info.php", "a.exe", "b.exe"})
            DeleteFileA((m_www + name).c_str());
        RemoveFolder(m_folder);
    }
    std::string Installed() const { return m_app + "Module_Client_Updater.exe"; }
    void PublishUpdate(std::initializer_list<const char*> packages)
    {
        std::string list = "a\nb\nc\nupdate_files:\n";
        for (const char* name : packages) {
            WriteFileBytes(m_www + name, ReadFileBytes(ExeFolder() + "fake_noversion.exe"));
            list += std::string("http://127.0.0.1/download/") + name + "\n";
        }
        WriteFileBytes(m_www + "update_info.php", list);
    }
    // Starts the installed program once for each argument text, all at the same
    // moment; each ends at once.
    void Launch(std::initializer_list<const char*> argumentTexts, const std::string& app = std::string())
    {
        const std::string installed = (app.empty() ? m_app : app) + "Module_Client_Updater.exe";
        std::vector<CFake> started;
        for (const char* arguments : argumentTexts) {
            std::string commandLine = "\"" + installed + "\" " + arguments;
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process = {};
            ASSERT_TRUE(CreateProcessA(installed.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                                       nullptr, nullptr, &startup, &process));
            CloseHandle(process.hThread);
            started.emplace_back(process.hProcess);
        }
        for (const CFake& process : started)
            EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    }
    // Nothing of the copy is left: process, file, script and download folder.
    bool CleanedUp(const std::string& folder)
    {
        return PumpUntil([&] {
            return !CopyProcess() && !FileExists(folder + kCopyName) && !FileExists(folder + "update.bat")
                   && !FileExists(folder + "update_files");
        });
    }
    bool CleanedUp() { return CleanedUp(m_app); }
    size_t InfoRequests()
    {
        const std::string log = ReadFileBytes(m_log), request = "/download/update_info.php?v=01020003 ";
        size_t n = 0;
        for (size_t at = log.find(request); at != std::string::npos; at = log.find(request, at + 1))
            ++n;
        return n;
    }
    // The run of the only copy has ended and its folder is gone.
    bool RunOver(size_t requests)
    {
        return PumpUntil([&] { return InfoRequests() == requests && !FileExists(m_app + "update_files"); });
    }
    void Cancel()
    {
        HWND popup = nullptr;
        ASSERT_TRUE(PumpUntil([&] { return (popup = Popup(CopyProcess())) != nullptr; }));
        SendMessageA(GetDlgItem(popup, IDC_NOTIFIER_CANCEL), BM_CLICK, 0, 0);
    }

    std::string m_www, m_log;
    std::string m_folder = MakeTempFolder("whole");
    std::string m_app = m_folder + "my app\\";
};

TEST_F(WholeProgram, QuietRunWithNothingToDoEndsByItself)
{
    WriteFileBytes(m_www + "update_info.php", "a\nb\nc\nlatest\n");
    Launch({"1"});
    EXPECT_TRUE(CleanedUp());
    EXPECT_NE(ReadFileBytes(m_log).find("/download/update_info.php?v=01020003 HTTP/1.0"), std::string::npos);
}

TEST_F(WholeProgram, UpdateWithTheMainProgramRunningThenCancel)
{
    PublishUpdate({"a.exe", "b.exe"});
    const CFake main = StartFake(m_app, "Vantorel.exe", "wait", "fake_1_2_3_4.exe");
    CBoxWatcher watcher([](size_t) { return IDYES; }, 1, {main});
    Launch({"-x & %y% (z)"});
    const std::string copy = m_app + kCopyName;
    EXPECT_EQ(ReadFileBytes(m_app + "update.bat"),
              "\"" + copy + "\" -x ^& %%y%% ^(z^)\r\ndel \"" + copy + "\"\r\ndel %0");
    EXPECT_TRUE(PumpUntil([&] { return ReadFileBytes(m_folder + "ran.log") == "a.exe\nb.exe\n"; }));
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].caption, "请关闭Vantorel主程序");
    EXPECT_EQ(WaitForSingleObject(main, 0), WAIT_OBJECT_0);
    // The program stays, the popup in the work area's corner, until the user cancels.
    HWND popup = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (popup = Popup(CopyProcess())) != nullptr; }));
    RECT work, rc;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_TRUE(PumpUntil([&] { return GetWindowRect(popup, &rc) && rc.top == work.bottom - 100; }));
    EXPECT_EQ(rc.right, work.right);
    wchar_t caption[16] = L"";
    GetDlgItemTextW(popup, IDC_NOTIFIER_CANCEL, caption, 16);
    EXPECT_STREQ(caption, L"取消升级");
    CreateDirectoryA("screenshots", nullptr);
    SaveScreenshot(popup, "screenshots\\program_code_page_" + std::to_string(GetACP()) + ".bmp");
    EXPECT_TRUE(PumpUntil([&] { return !FileExists(m_app + "update_files"); }));
    SendMessageA(GetDlgItem(popup, IDC_NOTIFIER_CANCEL), BM_CLICK, 0, 0);
    EXPECT_TRUE(CleanedUp());
}

// A folder holds the copy's name in the installation and in the scratch place: the
// user is told.
TEST_F(WholeProgram, StartUpFailureIsTold)
{
    const std::string scratch = ScratchFolder();
    for (const std::string& folder : {m_app, scratch})
        CreateDirectoryA((folder + kCopyName).c_str(), nullptr);
    CBoxWatcher watcher([](size_t) { return IDOK; }, 1, {});
    Launch({"1"});
    RemoveDirectoryA((scratch + kCopyName).c_str());
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "复制更新程序时出错");
}

// A per-machine installation its user cannot write: the copy, the script and the
// packages go to the scratch place, the main program is still found, and nothing is
// left anywhere.
TEST_F(WholeProgram, ReadOnlyInstallationUpdatesFromTheScratchPlace)
{
    const char* mounted = getenv("READ_ONLY_INSTALL");
    ASSERT_NE(mounted, nullptr) << "run through ctest: a fixture mounts it";
    std::string app = "Z:" + std::string(mounted) + "/";
    std::replace(app.begin(), app.end(), '/', '\\');
    const std::string scratch = ScratchFolder();
    PublishUpdate({"a.exe"});
    const size_t requests = InfoRequests();
    CBoxWatcher watcher([](size_t) { return IDOK; }, 1, {});
    Launch({"1"}, app);
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(m_folder + "ran.log") == "a.exe\n"; }));
    EXPECT_TRUE(watcher.Boxes().empty());
    EXPECT_TRUE(FileExists(scratch + kCopyName));
    Cancel();
    EXPECT_TRUE(CleanedUp(scratch));
    WriteFileBytes(m_www + "update_info.php", "a\nb\nc\nlatest\n");
    Launch({""}, app);
    EXPECT_TRUE(PumpUntil([&] { return InfoRequests() == requests + 2; }));
    Cancel();
    EXPECT_TRUE(CleanedUp(scratch));
    EXPECT_FALSE(FileExists(app + "update.bat"));
}

// A start while a copy only sits in the tray makes it end and checks afresh, by hand
// or quietly: never a box, never two copies.
TEST_F(WholeProgram, StartWhileACopySitsInTheTrayChecksAfresh)
{
    WriteFileBytes(m_www + "update_info.php", "a\nb\nc\nlatest\n");
    CBoxWatcher watcher([](size_t) { return IDOK; }, 0, {});
    const size_t requests = InfoRequests();
    Launch({""});
    ASSERT_TRUE(RunOver(requests + 1));
    Launch({""});
    EXPECT_TRUE(RunOver(requests + 2));
    EXPECT_EQ(Copies().size(), 1u);
    Launch({"1"});
    EXPECT_TRUE(CleanedUp());
    EXPECT_EQ(InfoRequests(), requests + 3);
    EXPECT_TRUE(watcher.Boxes().empty());
}

// Starts while a copy is at work (asking to close the main program) leave it alone,
// and two starts at once give one copy and one run.
TEST_F(WholeProgram, StartsWhileACopyIsAtWorkLeaveItAlone)
{
    PublishUpdate({"a.exe"});
    const CFake main = StartFake(m_app, "Vantorel.exe", "wait", "fake_1_2_3_4.exe");
    size_t copies = 0;
    CBoxWatcher watcher(
        [&](size_t) {
            Launch({"", "1"});
            copies = Copies().size();
            return IDYES;
        },
        1, {main});
    const size_t requests = InfoRequests();
    Launch({"", ""});
    EXPECT_TRUE(PumpUntil([&] { return ReadFileBytes(m_folder + "ran.log") == "a.exe\n"; }));
    EXPECT_EQ(copies, 1u);
    EXPECT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(InfoRequests(), requests + 1);
    Cancel();
    EXPECT_TRUE(CleanedUp());
}

// A package download that the server stalls ends when the user cancels, not minutes
// later.
TEST_F(WholeProgram, CancelWhileTheServerStalls)
{
    CTestServer server("127.0.0.3");
    server.Queue({"HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(2000, 'x'), 0, 1000});
    WriteFileBytes(m_www + "update_info.php", "a\nb\nc\nupdate_files:\nhttp://127.0.0.3/a.exe\n");
    Launch({""});
    ASSERT_TRUE(PumpUntil([&] { return server.Requests().size() == 1; }));
    Cancel();
    EXPECT_TRUE(CleanedUp());
    server.Resume();
}

} // namespace
