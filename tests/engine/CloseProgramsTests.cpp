// Closing running programs against real processes (copies of the fake program under
// the main program's and the updater's names) and the real question box, answered by
// a watcher thread while this thread, which owns the box's owner, pumps messages.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/CloseRunningPrograms.h"

namespace {

const char kText[] = "Vantorel主程序还在运行，继续更新需要关闭主程序。\n请关闭主程序后选择“否”，\n"
                     "或选择“是”，主程序将被强制关闭。\n是否强制关闭？";
const char kCopy[] = "Module_Client_Updater_BAK.exe";

bool Running(HANDLE process)
{
    return WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
}

DWORD ExitCode(HANDLE process)
{
    DWORD code = STILL_ACTIVE;
    WaitForSingleObject(process, 20000);
    GetExitCodeProcess(process, &code);
    return code;
}

bool Openable(DWORD id)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    return process && CloseHandle(process);
}

class CloseRunningProgramsTest : public testing::Test {
protected:
    ~CloseRunningProgramsTest() override
    {
        for (HANDLE p : m_processes) {
            TerminateProcess(p, 0xDEAD);
            WaitForSingleObject(p, 20000);
            CloseHandle(p);
        }
        DestroyWindow(m_owner);
        RemoveFolder(m_folder);
    }
    HANDLE Start(const char* sub, const char* name, const char* args = "wait")
    {
        HANDLE p = StartFake(m_folder + sub, name, args);
        EXPECT_NE(p, nullptr) << name;
        if (p)
            m_processes.push_back(p);
        return p;
    }
    // Runs the closing on a worker thread; the watcher must be answering boxes.
    bool Run(const std::string& moduleName)
    {
        std::atomic<bool> done(false);
        bool result = false;
        std::thread worker([&] {
            result = CloseRunningPrograms(m_owner, moduleName);
            done = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
        worker.join();
        return result;
    }
    // Closes the test's handle to an ended process and tells whether the process
    // object then goes away: a handle the closing leaked would keep it.
    bool GoneOnceReleased(HANDLE process)
    {
        const DWORD id = GetProcessId(process);
        Release(process);
        PumpUntil([&] { return !Openable(id); }, 10000);
        return !Openable(id);
    }
    void Release(HANDLE process)
    {
        ExitCode(process);
        m_processes.erase(std::find(m_processes.begin(), m_processes.end(), process));
        CloseHandle(process);
    }

    std::string m_folder = MakeTempFolder("close");
    HWND m_owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPED, 0, 0, 99, 99, nullptr, nullptr,
                                   nullptr, nullptr);
    std::vector<HANDLE> m_processes;
};

TEST_F(CloseRunningProgramsTest, AskedEverySecondUntilTheMainProgramIsGone)
{
    enum Step {
        No,
        Yes,
        EndItThenNo
    }; // the last: the user closes it, then answers
    const struct {
        const char* name;
        const char* args;
        std::vector<Step> steps;
        DWORD exitCode;
    } cases[] = {
        {"ends within the grace second", "300", {}, 0},
        {"no, no, yes", "wait", {No, No, Yes}, 1},
        {"closed by the user, then no", "wait", {No, EndItThenNo}, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE main = Start(c.name, "Vantorel.exe", c.args);
        std::vector<bool> runningWhenAsked;
        std::vector<CBoxWatcher::Box> boxes;
        {
            CBoxWatcher watcher(
                [&](size_t i) {
                    runningWhenAsked.push_back(Running(main));
                    if (c.steps[i] == EndItThenNo) {
                        TerminateProcess(main, 7);
                        WaitForSingleObject(main, 20000);
                    }
                    return c.steps[i] == Yes ? IDYES : IDNO;
                },
                c.steps.size(), main);
            EXPECT_TRUE(Run(kCopy));
            boxes = watcher.Boxes();
        }
        EXPECT_EQ(boxes.size(), c.steps.size());
        for (const auto& box : boxes) {
            EXPECT_EQ(box.text, kText);
            EXPECT_EQ(box.owner, m_owner);
            EXPECT_TRUE(box.yesNoOnly);
        }
        EXPECT_EQ(runningWhenAsked, std::vector<bool>(c.steps.size(), true));
        EXPECT_EQ(ExitCode(main), c.exitCode);
    }
}

TEST_F(CloseRunningProgramsTest, InstancesInAnyCaseOneAfterTheOther)
{
    HANDLE first = Start("a", "Vantorel.exe"), second = Start("b", "VANTOREL.EXE");
    std::vector<int> runningWhenAsked;
    {
        CBoxWatcher watcher(
            [&](size_t) {
                runningWhenAsked.push_back(Running(first) + Running(second));
                return IDYES;
            },
            2, first);
        EXPECT_TRUE(Run(kCopy));
    }
    EXPECT_EQ(runningWhenAsked, (std::vector<int>{2, 1}));
    EXPECT_EQ(ExitCode(first), 1u);
    EXPECT_EQ(ExitCode(second), 1u);
    EXPECT_TRUE(GoneOnceReleased(first));
    EXPECT_TRUE(GoneOnceReleased(second));
}

TEST_F(CloseRunningProgramsTest, InstanceThatEndedMeanwhileCountsAsClosed)
{
    // Asked about the first instance, the user closes both; the second is gone from
    // the system before its turn.
    HANDLE first = Start("a", "Vantorel.exe"), second = Start("b", "Vantorel.exe");
    const DWORD ids[] = {GetProcessId(first), GetProcessId(second)};
    size_t asked = 0;
    {
        CBoxWatcher watcher(
            [&](size_t) {
                for (HANDLE p : {first, second}) {
                    TerminateProcess(p, 7);
                    Release(p);
                }
                // The instance asked about stays open; the other goes a little later.
                PumpUntil([&] { return !Openable(ids[0]) || !Openable(ids[1]); }, 10000);
                return IDNO;
            },
            1, nullptr);
        EXPECT_TRUE(Run(kCopy));
        asked = watcher.Boxes().size();
    }
    EXPECT_EQ(asked, 1u);
    EXPECT_FALSE(Openable(ids[0]) && Openable(ids[1]));
}

TEST_F(CloseRunningProgramsTest, InstalledUpdaterIsEndedWithoutAsking)
{
    // Its name is the running copy's without the four characters that begin eight
    // from the end; the copy itself, look-alikes and short names are left alone.
    const struct {
        const char* moduleName;
        bool ended;
    } cases[] = {{"Module_Client_Updater_BAK.exe", true},
                 {"MODULE_CLIENT_UPDATER_BAK.EXE", true},
                 {"upd.exe", false},
                 {"_BK.exe", false},
                 {"u", false},
                 {"", false}};
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.moduleName);
        const std::string sub = std::to_string(++n);
        HANDLE installed = Start(sub.c_str(), "Module_Client_Updater.exe");
        HANDLE copy = Start(sub.c_str(), kCopy);
        HANDLE lookalike = Start(sub.c_str(), "Vantorel.exe.exe");
        size_t asked = 0;
        {
            CBoxWatcher watcher([](size_t) { return IDNO; }, 0, lookalike);
            EXPECT_TRUE(Run(c.moduleName));
            asked = watcher.Boxes().size();
        }
        EXPECT_EQ(asked, 0u);
        EXPECT_EQ(!Running(installed), c.ended);
        EXPECT_TRUE(Running(copy));
        if (c.ended) {
            EXPECT_EQ(ExitCode(installed), 1u);
            EXPECT_TRUE(GoneOnceReleased(installed));
        }
    }
}

} // namespace
