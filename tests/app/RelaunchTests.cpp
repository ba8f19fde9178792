// The relaunch script run by the system's batch interpreter: the copy gets its
// command line exactly as given, and the script deletes the copy and itself.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "app/RelaunchScript.h"

namespace {

TEST(RelaunchScript, CommandLineArrivesUnchangedAndNothingIsLeft)
{
    const std::string folder = MakeTempFolder("relaunch"), log = folder + "args.txt";
    const std::string copy = folder + "my copy_BAK.exe", script = folder + "update.bat";
    SetEnvironmentVariableA("ARGS_LOG", log.c_str());
    for (const char* commandLine : {"", "1", "1 ", "50% %PATH% %%x%% %~dp0", "a & del x | y > z < w ^ (p)",
                                    "\"a & b (c)\" d & \"%e%\"", "\"unclosed ( & ^", "x^^y ! !z!"}) {
        SCOPED_TRACE(commandLine);
        ASSERT_TRUE(CopyFileA((ExeFolder() + "fake_noversion.exe").c_str(), copy.c_str(), FALSE));
        DeleteFileA(log.c_str());
        ASSERT_TRUE(WriteRelaunchScript(script, copy, commandLine));
        if (!*commandLine) {
            EXPECT_EQ(ReadFileBytes(script), "\"" + copy + "\" \r\ndel \"" + copy + "\"\r\ndel %0");
        }
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(script.c_str(), nullptr, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                   nullptr, nullptr, &startup, &process));
        EXPECT_EQ(WaitForSingleObject(process.hProcess, 20000), WAIT_OBJECT_0);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        EXPECT_EQ(ReadFileBytes(log), commandLine);
        EXPECT_FALSE(FileExists(copy));
        EXPECT_TRUE(PumpUntil([&] { return !FileExists(script); }, 5000)) << "the script deletes itself";
    }
    SetEnvironmentVariableA("ARGS_LOG", nullptr);
    for (const char* commandLine : {"1\r\ndel x", "1\ndel x", "1\rdel x"})
        EXPECT_FALSE(WriteRelaunchScript(script, copy, commandLine)) << "one line cannot carry it";
    EXPECT_FALSE(FileExists(script));
    RemoveFolder(folder);
}

} // namespace
