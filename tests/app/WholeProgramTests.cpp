// The installed program started as a user starts it, against the private nginx of the
// worker tests, in a folder whose path holds a blank: the relaunch from the copy, the
// script and the clean-up, quiet and visible runs, an update with the main program
// running, and quitting from the notifier. Observed from outside: files, processes,
// windows and the server's log.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "TestWindows.h"
#include "ui/TaskbarNotifier.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

const char kCopyName[] = "Module_Client_Updater_BAK.exe";
const char kSettingsKey[] = "Software\\Vantorel\\Vantorel\\Settings", kSettingsValue[] = "UpdateSvrUrl";

// The running copy's process id, or 0.
DWORD CopyProcess()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    DWORD id = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !id; more = Process32Next(snapshot, &entry))
        id = lstrcmpiA(entry.szExeFile, kCopyName) == 0 ? entry.th32ProcessID : 0;
    CloseHandle(snapshot);
    return id;
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
        if (const DWORD id = CopyProcess()) {
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
    // Starts the installed program with this argument text; it ends at once.
    void Launch(const std::string& arguments)
    {
        std::string commandLine = "\"" + Installed() + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(Installed().c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &process));
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    // Nothing of the copy is left: process, file and script.
    bool CleanedUp()
    {
        return PumpUntil([&] {
            return !CopyProcess() && !FileExists(m_app + kCopyName) && !FileExists(m_app + "update.bat");
        });
    }

    std::string m_www, m_log;
    std::string m_folder = MakeTempFolder("whole");
    std::string m_app = m_folder + "my app\\";
};

// Without its manifest Windows would ask for administrator rights by the file's name.
TEST(Executable, CarriesItsManifest)
{
    const HMODULE exe = LoadLibraryExA((ExeFolder() + "Module_Client_Updater.exe").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE);
    const HRSRC res = FindResourceA(exe, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(res, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(exe, res))),
                           SizeofResource(exe, res));
    for (const char* part :
         {"level=\"asInvoker\"", "\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    FreeLibrary(exe);
}

TEST_F(WholeProgram, QuietRunWithNothingToDoEndsByItself)
{
    WriteFileBytes(m_www + "update_info.php", "a\nb\nc\nlatest\n");
    Launch("1");
    EXPECT_TRUE(CleanedUp());
    EXPECT_NE(ReadFileBytes(m_log).find("/download/update_info.php?v=01020003 HTTP/1.0"), std::string::npos);
}

TEST_F(WholeProgram, UpdateWithTheMainProgramRunningThenCancel)
{
    PublishUpdate({"a.exe", "b.exe"});
    const CFake main = StartFake(m_folder + "running", "Vantorel.exe");
    CBoxWatcher watcher([](size_t) { return IDYES; }, 1, {main});
    Launch("-x & %y% (z)");
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

// A folder holds the copy's name: the user is told.
TEST_F(WholeProgram, StartUpFailureIsTold)
{
    CreateDirectoryA((m_app + kCopyName).c_str(), nullptr);
    CBoxWatcher watcher([](size_t) { return IDOK; }, 1, {});
    Launch("1");
    const auto boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "复制更新程序时出错");
}

TEST_F(WholeProgram, CancelWhileTheQuestionBoxIsUpRunsNothing)
{
    PublishUpdate({"a.exe"});
    const CFake main = StartFake(m_folder + "running", "Vantorel.exe");
    CBoxWatcher watcher(
        [](size_t) {
            SendMessageA(GetDlgItem(Popup(CopyProcess()), IDC_NOTIFIER_CANCEL), BM_CLICK, 0, 0);
            Sleep(300);
            return IDNO;
        },
        1, {main});
    Launch("");
    EXPECT_TRUE(CleanedUp());
    EXPECT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(ReadFileBytes(m_folder + "ran.log"), "");
    EXPECT_EQ(WaitForSingleObject(main, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "nothing is closed";
}

} // namespace
