// Closing running programs against real processes (copies of the fake program under
// the main program's and the updater's names) and the real question box, answered by
// a watcher thread while this thread, which owns the box's owner, pumps messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <list>

#include "TestSupport.h"
#include <sddl.h>
#include "engine/CloseRunningPrograms.h"
#include "engine/Handle.h"

namespace {

const char kCopy[] = "Module_Client_Updater_BAK.exe";

const auto Running = [](HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; };

const auto Openable = [](DWORD id) { return CHandle(OpenProcess(SYNCHRONIZE, FALSE, id)).IsValid(); };

class CloseRunningProgramsTest : public testing::Test {
protected:
    ~CloseRunningProgramsTest() override
    {
        m_processes.clear();
        DestroyWindow(m_owner);
        RemoveFolder(m_folder);
    }
    HANDLE Start(const std::string& sub, const char* name, const char* args = "wait")
    {
        m_processes.push_back(StartFake(m_folder + sub, name, args));
        EXPECT_TRUE(m_processes.back()) << name;
        return m_processes.back();
    }
    // Closes the test's handle once the process has ended (ending it after a while
    // if need be); its exit code, STILL_ACTIVE if it did not end.
    DWORD Release(HANDLE process)
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process, 20000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process, &code);
        m_processes.remove_if([process](const CFake& p) { return p == process; });
        return code;
    }
    // Runs the closing on a worker thread while the watcher answers; the boxes shown.
    std::vector<CBoxWatcher::Box> Run(const std::string& moduleName, const std::string& mainProgram,
                                      std::function<int(size_t)> answer = nullptr, size_t scripted = 0,
                                      std::vector<HANDLE> fallback = {})
    {
        CBoxWatcher watcher(answer, scripted, fallback);
        std::atomic<bool> done(false);
        std::thread worker([&] {
            try {
                EXPECT_TRUE(CloseRunningPrograms(m_owner, moduleName, mainProgram));
            } catch (...) { // an exception leaving a thread would end in a box nobody answers
                ADD_FAILURE() << "exception";
            }
            done = true;
        });
        EXPECT_TRUE(PumpUntil([&] { return done.load(); }));
        worker.join();
        return watcher.Boxes();
    }

    std::string m_folder = MakeTempFolder("close");
    HWND m_owner =
        CreateWindowExA(0, "STATIC", "", WS_OVERLAPPED, 0, 0, 99, 99, nullptr, nullptr, nullptr, nullptr);
    std::list<CFake> m_processes;
};

TEST_F(CloseRunningProgramsTest, MainProgramAskedEverySecondUntilItIsGone)
{
    // The answers: 'y' yes, 'n' no; 'e' the user ends the main program, 'b' both, then no.
    const struct {
        const char* name;
        const char* args;   // of the main program
        const char* file;   // its file name
        const char* second; // a second instance: "" of this installation, or another's folder
        std::string steps;
        std::vector<int> runningWhenAsked;
        std::vector<DWORD> exitCodes;
        char ours = 'l';       // the updater's name for its folder: long, 8.3 short, 'x' nothing readable
        bool elevated = false; // the main program may be waited for, not ended
    } cases[] = {
        {"ends within the grace second", "300", "Vantorel.exe", nullptr, "", {}, {0}},
        {"no, no, yes", "wait", "Vantorel.exe", nullptr, "nny", {1, 1, 1}, {1}},
        {"closed by the user, then no", "wait", "Vantorel.exe", nullptr, "ne", {1, 1}, {7}},
        {"names in any case, one after the other", "wait", "VANTOREL.EXE", "", "yy", {2, 1}, {1, 1}},
        // The second instance is gone from the system before its turn: closed, not failed.
        {"both closed while asked about the first", "wait", "Vantorel.exe", "", "b", {2}, {7, 7}},
        {"another installation's left alone", "wait", "Vantorel.exe", " b", "y", {2}, {1, 9}},
        {"started through the long form", "wait", "Vantorel.exe", nullptr, "y", {1}, {1}, 's'},
        {"cannot tell whose, asked as ours", "wait", "Vantorel.exe", nullptr, "y", {1}, {1}, 'x'},
        // A yes cannot end it: asked again.
        {"elevated", "wait", "Vantorel.exe", nullptr, "ye", {1, 1}, {7}, 'l', true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HANDLE main = Start(c.name, c.file, c.args);
        PSECURITY_DESCRIPTOR sd = nullptr; // as an elevated one: waited for, not ended
        if (c.elevated
            && ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;0x101000;;;WD)", 1, &sd, nullptr))
            SetKernelObjectSecurity(main, DACL_SECURITY_INFORMATION, sd);
        LocalFree(sd);
        HANDLE second = c.second ? Start(c.name + std::string(c.second), c.file) : nullptr;
        const DWORD ids[] = {GetProcessId(main), second ? GetProcessId(second) : 0};
        std::vector<int> running;
        std::vector<DWORD> codes;
        const std::string folder =
            c.ours == 's' ? ShortForm(m_folder + c.name) : m_folder + (c.ours == 'x' ? "elsewhere" : c.name);
        const auto boxes = Run(kCopy, folder + "\\Vantorel.exe",
                               [&](size_t i) {
                                   running.push_back(Running(main) + (second && Running(second)));
                                   if (c.steps[i] == 'e' || c.steps[i] == 'b')
                                       TerminateProcess(main, 7);
                                   if (c.steps[i] == 'b') {
                                       TerminateProcess(second, 7);
                                       codes = {Release(main), Release(second)};
                                       // The instance asked about stays open; the other goes a little later.
                                       PumpUntil([&] { return !Openable(ids[1]); }, 10000);
                                   }
                                   return c.steps[i] == 'y' ? IDYES : IDNO;
                               },
                               c.steps.size(), {main, second});
        EXPECT_EQ(boxes.size(), c.steps.size());
        EXPECT_EQ(running, c.runningWhenAsked);
        if (c.second && *c.second && Running(second))
            TerminateProcess(second, 9);
        // Closing the test's handles frees the processes unless the closing leaked one.
        for (HANDLE p : {main, second})
            if (std::count(m_processes.begin(), m_processes.end(), p))
                codes.push_back(Release(p));
        EXPECT_EQ(codes, c.exitCodes);
        EXPECT_TRUE(PumpUntil([&] { return !Openable(ids[0]) && !Openable(ids[1]); }, 10000));
    }
}

TEST_F(CloseRunningProgramsTest, InstalledUpdaterIsEndedWithoutAsking)
{
    // Its name is the running copy's without the four characters that begin eight
    // from the end; the copy itself, look-alikes, short names and another
    // installation's updater are left alone, and so is one that cannot be told apart
    // from ours. The installation goes by its 8.3 short form.
    const struct {
        const char* moduleName;
        bool ended;
        bool found = true; // this installation's updater, where the main program is
    } cases[] = {{kCopy, true},        {"MODULE_CLIENT_UPDATER_BAK.EXE", true},
                 {"upd.exe", false},   {"_BK.exe", false},
                 {"u", false},         {"", false},
                 {kCopy, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.moduleName);
        const std::string sub = std::to_string(&c - cases);
        HANDLE installed = Start(sub, "Module_Client_Updater.exe"), copy = Start(sub, kCopy);
        HANDLE lookalike = Start(sub, "Vantorel.exe.exe"),
               other = Start(sub + " b", "Module_Client_Updater.exe");
        const std::string installation = c.found ? ShortForm(m_folder + sub) : m_folder + "elsewhere";
        EXPECT_TRUE(Run(c.moduleName, installation + "\\Vantorel.exe", nullptr, 0, {lookalike}).empty());
        EXPECT_EQ(!Running(installed), c.ended);
        EXPECT_TRUE(Running(copy) && Running(other)) << "the copy and another installation's updater";
        if (c.ended) {
            const DWORD id = GetProcessId(installed);
            EXPECT_EQ(Release(installed), 1u);
            EXPECT_TRUE(PumpUntil([&] { return !Openable(id); }, 10000)) << "a handle was leaked";
        }
    }
}

} // namespace
