// Closing running programs against real processes: copies of the fake program
// under the main program's and the updater's names, and the real question box,
// answered by a watcher thread while this thread pumps the owner's messages.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "TestHttpServer.h"
#include "engine/CloseRunningPrograms.h"

namespace {

// "请关闭Vantorel主程序" in code page 936: finding the box by it pins the caption.
const char kCaption[] = "\xC7\xEB\xB9\xD8\xB1\xD5Vantorel\xD6\xF7\xB3\xCC\xD0\xF2";
const char kText[] = "Vantorel主程序还在运行，继续更新需要关闭主程序。\n请关闭主程序后选择“否”，\n"
                     "或选择“是”，主程序将被强制关闭。\n是否强制关闭？";
const char kUpdaterCopy[] = "Module_Client_Updater_BAK.exe";
const DWORD kEndedByUser = 7;
const DWORD kLiveness = 20000; // only bounds a hang; no assertion depends on it

struct Box {
    std::string text;
    HWND owner;
    bool hasYes, hasNo, hasCancel;
    int running; // how many of the test's processes were alive when it showed
};

struct Outcome {
    bool result;
    std::vector<Box> boxes;
};

bool Running(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

// Exit code once the process has ended, STILL_ACTIVE if it does not end.
DWORD ExitCode(HANDLE process)
{
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process, kLiveness);
    GetExitCodeProcess(process, &code);
    return code;
}

bool Listed(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    bool found = false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry))
        found = entry.th32ProcessID == processId;
    CloseHandle(snapshot);
    return found;
}

bool Openable(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process)
        CloseHandle(process);
    return process != nullptr;
}

int CountListed(const char* exeName)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        count += lstrcmpiA(entry.szExeFile, exeName) == 0;
    CloseHandle(snapshot);
    return count;
}

class CloseRunningProgramsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A leftover from another run would bring up boxes nobody expects.
        ASSERT_EQ(CountListed("Vantorel.exe"), 0);
        ASSERT_EQ(CountListed("Module_Client_Updater.exe"), 0);
        m_folder = MakeTempFolder("close");
        m_owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                                  nullptr, nullptr);
        ASSERT_NE(m_owner, nullptr);
    }

    void TearDown() override
    {
        for (HANDLE& process : m_processes) {
            if (!process)
                continue;
            if (Running(process))
                TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, kLiveness);
            CloseHandle(process);
            process = nullptr;
        }
        if (m_owner)
            DestroyWindow(m_owner);
        RemoveFolder(m_folder);
    }

    // Starts a copy of the fake program as <folder>\<sub>\<name>; names that differ
    // only in case need their own subfolders. `exitAfterMs` empty: runs until ended.
    HANDLE Start(const char* sub, const char* name, const char* exitAfterMs = "")
    {
        const std::string dir = m_folder + sub;
        CreateDirectoryA(dir.c_str(), nullptr);
        const std::string path = dir + "\\" + name;
        EXPECT_TRUE(CopyFileA((ExeFolder() + "fake_noversion.exe").c_str(), path.c_str(), FALSE)) << path;
        std::string commandLine = "\"" + path + "\" " + exitAfterMs;
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            ADD_FAILURE() << "cannot start " << path << ": " << GetLastError();
            return nullptr;
        }
        CloseHandle(pi.hThread);
        m_processes.push_back(pi.hProcess);
        for (int i = 0; i < 1000 && !Listed(pi.dwProcessId); ++i)
            Sleep(10);
        EXPECT_TRUE(Listed(pi.dwProcessId)) << path;
        return pi.hProcess;
    }

    // Forgets a handle the test has closed itself.
    void Forget(HANDLE process)
    {
        for (HANDLE& p : m_processes)
            if (p == process)
                p = nullptr;
    }

    // Closes the test's handle to an ended process and tells whether the process
    // object then goes away: a handle the code under test leaked would keep it.
    bool GoneOnceReleased(HANDLE process)
    {
        const DWORD id = GetProcessId(process);
        WaitForSingleObject(process, kLiveness);
        CloseHandle(process);
        Forget(process);
        for (DWORD waited = 0; Openable(id) && waited < kLiveness; waited += 10)
            Sleep(10);
        return !Openable(id);
    }

    int RunningCount()
    {
        int n = 0;
        for (HANDLE p : m_processes)
            n += p && Running(p);
        return n;
    }

    // Calls CloseRunningPrograms on a worker thread. `answer(i)` gives the button
    // for the i-th box; it may act first. Past the script every box gets Yes, so
    // a run always ends.
    Outcome Run(const std::string& moduleName, std::function<int(size_t)> answer = nullptr)
    {
        Outcome out = {false, {}};
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::atomic<bool> stop(false);
        std::thread worker([&] {
            out.result = CloseRunningPrograms(m_owner, moduleName);
            SetEvent(done);
        });
        std::thread watcher([&] {
            while (!stop) {
                HWND box = FindWindowA("#32770", kCaption);
                if (!box || !IsWindowVisible(box)) {
                    Sleep(10);
                    continue;
                }
                char text[1024] = "";
                GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
                Box seen = {text,
                            GetWindow(box, GW_OWNER),
                            GetDlgItem(box, IDYES) != nullptr,
                            GetDlgItem(box, IDNO) != nullptr,
                            GetDlgItem(box, IDCANCEL) != nullptr,
                            RunningCount()};
                const size_t index = out.boxes.size();
                out.boxes.push_back(seen);
                const int button = answer && index < 10 ? answer(index) : IDYES;
                SendMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
                while (IsWindow(box) && !stop)
                    Sleep(10);
            }
        });
        // The box disables its owner, which needs the owner's thread to answer.
        while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        stop = true;
        worker.join();
        watcher.join();
        CloseHandle(done);
        return out;
    }

    void ExpectProperBox(const Box& box)
    {
        EXPECT_EQ(box.text, kText);
        EXPECT_EQ(box.owner, m_owner);
        EXPECT_TRUE(box.hasYes && box.hasNo);
        EXPECT_FALSE(box.hasCancel);
    }

    std::string m_folder;
    HWND m_owner = nullptr;
    std::vector<HANDLE> m_processes;
};

TEST_F(CloseRunningProgramsTest, NothingRunningSucceedsWithoutAsking)
{
    const Outcome out = Run(kUpdaterCopy);
    EXPECT_TRUE(out.result);
    EXPECT_TRUE(out.boxes.empty());
}

TEST_F(CloseRunningProgramsTest, MainProgramEndingWithinTheGraceSecondIsNotAsked)
{
    HANDLE main = Start("a", "Vantorel.exe", "300");
    ASSERT_TRUE(main && Running(main));
    const Outcome out = Run(kUpdaterCopy);
    EXPECT_TRUE(out.result);
    EXPECT_TRUE(out.boxes.empty());
    EXPECT_EQ(ExitCode(main), 0u) << "it should have ended on its own";
}

TEST_F(CloseRunningProgramsTest, AskedEverySecondUntilTheMainProgramIsGone)
{
    enum Step {
        No,
        Yes,
        EndItThenNo // the user closes the program, then answers as the box asks
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        DWORD exitCode;
    };
    const Case cases[] = {
        {"no, no, yes", {No, No, Yes}, 1},
        {"yes at once", {Yes}, 1},
        {"closed by the user, then no", {No, EndItThenNo}, kEndedByUser},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE main = Start(std::to_string(++n).c_str(), "Vantorel.exe");
        ASSERT_NE(main, nullptr);
        const Outcome out = Run(kUpdaterCopy, [&](size_t i) {
            if (i >= c.steps.size())
                return IDYES;
            if (c.steps[i] == EndItThenNo) {
                TerminateProcess(main, kEndedByUser);
                WaitForSingleObject(main, kLiveness);
            }
            return c.steps[i] == Yes ? IDYES : IDNO;
        });
        EXPECT_TRUE(out.result);
        ASSERT_EQ(out.boxes.size(), c.steps.size());
        for (const Box& box : out.boxes) {
            ExpectProperBox(box);
            EXPECT_EQ(box.running, 1) << "asked although the program had ended";
        }
        EXPECT_EQ(ExitCode(main), c.exitCode);
    }
}

TEST_F(CloseRunningProgramsTest, TwoInstancesAreHandledOneAfterTheOther)
{
    // The name match ignores case.
    HANDLE first = Start("a", "Vantorel.exe");
    HANDLE second = Start("b", "VANTOREL.EXE");
    ASSERT_TRUE(first && second);
    const Outcome out = Run(kUpdaterCopy, [](size_t) { return IDYES; });
    EXPECT_TRUE(out.result);
    ASSERT_EQ(out.boxes.size(), 2u);
    EXPECT_EQ(out.boxes[0].running, 2);
    EXPECT_EQ(out.boxes[1].running, 1) << "the second box must follow the end of the first instance";
    EXPECT_EQ(ExitCode(first), 1u);
    EXPECT_EQ(ExitCode(second), 1u);
    EXPECT_TRUE(GoneOnceReleased(first));
    EXPECT_TRUE(GoneOnceReleased(second));
}

TEST_F(CloseRunningProgramsTest, InstanceThatEndedMeanwhileCountsAsClosed)
{
    // While asked about the first instance, the user closes both. The second is
    // gone from the system before its turn; that is success, not a failure.
    HANDLE first = Start("a", "Vantorel.exe");
    HANDLE second = Start("b", "Vantorel.exe");
    ASSERT_TRUE(first && second);
    const DWORD ids[] = {GetProcessId(first), GetProcessId(second)};
    const Outcome out = Run(kUpdaterCopy, [&](size_t) {
        for (HANDLE p : {first, second}) {
            TerminateProcess(p, kEndedByUser);
            WaitForSingleObject(p, kLiveness);
            CloseHandle(p);
            Forget(p);
        }
        // The instance being asked about stays open; Wine frees the other's
        // process object a little after its last handle is closed.
        for (DWORD waited = 0; Openable(ids[0]) && Openable(ids[1]) && waited < kLiveness; waited += 10)
            Sleep(10);
        EXPECT_FALSE(Openable(ids[0]) && Openable(ids[1])) << "the ended instance never went away";
        return IDNO;
    });
    EXPECT_TRUE(out.result);
    EXPECT_EQ(out.boxes.size(), 1u);
    EXPECT_EQ(CountListed("Vantorel.exe"), 0);
}

TEST_F(CloseRunningProgramsTest, InstalledUpdaterIsEndedWithoutAsking)
{
    // The running copy's name in any case gives the installed name; the copy
    // itself and names that merely start like ours are left alone.
    for (const char* moduleName : {"Module_Client_Updater_BAK.exe", "MODULE_CLIENT_UPDATER_BAK.EXE"}) {
        SCOPED_TRACE(moduleName);
        const std::string sub = moduleName[1] == 'o' ? "a" : "b";
        HANDLE installed = Start(sub.c_str(), "Module_Client_Updater.exe");
        HANDLE copy = Start(sub.c_str(), "Module_Client_Updater_BAK.exe");
        HANDLE lookalike = Start(sub.c_str(), "Vantorel.exe.exe");
        ASSERT_TRUE(installed && copy && lookalike);

        const Outcome out = Run(moduleName);
        EXPECT_TRUE(out.result);
        EXPECT_TRUE(out.boxes.empty());
        EXPECT_EQ(ExitCode(installed), 1u);
        EXPECT_TRUE(GoneOnceReleased(installed));
        EXPECT_TRUE(Running(copy));
        EXPECT_TRUE(Running(lookalike));
        TerminateProcess(copy, 0);
        TerminateProcess(lookalike, 0);
        WaitForSingleObject(copy, kLiveness);
        WaitForSingleObject(lookalike, kLiveness);
    }
}

TEST_F(CloseRunningProgramsTest, ShortModuleNameMatchesNoInstalledUpdater)
{
    HANDLE bystander = Start("a", "upd.exe");
    HANDLE installed = Start("a", "Module_Client_Updater.exe");
    ASSERT_TRUE(bystander && installed);
    for (const char* moduleName : {"", "u", "upd.exe", "_BK.exe"}) {
        SCOPED_TRACE(moduleName);
        const Outcome out = Run(moduleName);
        EXPECT_TRUE(out.result);
        EXPECT_TRUE(out.boxes.empty());
    }
    EXPECT_TRUE(Running(bystander));
    EXPECT_TRUE(Running(installed));
}

TEST(InstalledUpdaterName, RemovesTheFourCharactersEightFromTheEnd)
{
    struct Case {
        const char* moduleName;
        bool ok;
        const char* installed;
    };
    const Case cases[] = {
        {"Module_Client_Updater_BAK.exe", true, "Module_Client_Updater.exe"},
        {"upd_bak.EXE", true, "upd.EXE"},
        {"_BAK.exe", true, ".exe"},
        {"abcdefgh", true, "efgh"},
        {"upd.exe", false, ""},
        {"", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.moduleName);
        std::string installed = "stale";
        EXPECT_EQ(engine_detail::InstalledUpdaterName(c.moduleName, installed), c.ok);
        EXPECT_EQ(installed, c.installed);
    }
}

} // namespace
