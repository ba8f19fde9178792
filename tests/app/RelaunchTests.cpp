// The relaunch run by the system's batch interpreter: the copy gets its command line
// exactly as given, from a plain folder and from one whose name the interpreter would
// misread (on either code page), and the script deletes the copy and itself.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/RelaunchScript.h"

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

} // namespace
