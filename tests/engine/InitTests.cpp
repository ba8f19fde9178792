// Engine set-up: the update-info URL from the settings value or the default, and
// the version query from the product version of the main program beside us.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/UpdateEngine.h"
#include "engine/UpdateLog.h"

namespace {

TEST(Init, UpdateInfoUrlAndVersionQuery)
{
    const std::string def = engine_detail::kDefaultInfoUrl, own = std::string("http://h/i.php?x=1\0", 19);
    const std::string longest = "http://h/" + std::string(290, 'a'); // 300 bytes with its NUL
    const struct {
        std::string settings; // empty: no value
        DWORD type;
        const char* fake; // null: no main program
        int result;
        std::string url;
    } cases[] = {
        {"", REG_SZ, "fake_1_2_3_4.exe", 0, def + "?v=01020003"},
        {own, REG_SZ, "fake_2_10_300_7.exe", 0, "http://h/i.php?x=1?v=020a012c"},
        {longest + '\0', REG_SZ, "fake_255_255_65535_9.exe", 0, longest + "?v=ffffffff"},
        {longest + "b" + '\0', REG_SZ, "fake_1_2_3_4.exe", 0, def + "?v=01020003"},
        {std::string(300, 'x'), REG_BINARY, "fake_1_2_3_4.exe", 0, def + "?v=01020003"}, // no NUL to end it
        {"http://a/b", REG_BINARY, "fake_1_2_3_4.exe", 0, "http://a/b?v=01020003"},      // shorter, no NUL
        {std::string("http://a/b\0junk", 15), REG_BINARY, "fake_1_2_3_4.exe", 0, "http://a/b?v=01020003"},
        {own, REG_SZ, "fake_256_0_0_0.exe", 2, "http://h/i.php?x=1"},
        {own, REG_SZ, "fake_1_256_0_0.exe", 2, "http://h/i.php?x=1"},
        {own, REG_SZ, "fake_noversion.exe", 2, "http://h/i.php?x=1"},
        {own, REG_SZ, nullptr, 2, "http://h/i.php?x=1"},
    };
    const std::string main = ExeFolder() + "Vantorel.exe";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        SetServerSetting(c.settings, c.type);
        DeleteFileA(main.c_str());
        ASSERT_TRUE(!c.fake || CopyFileA((ExeFolder() + c.fake).c_str(), main.c_str(), FALSE));
        CUpdateEngine engine;
        EXPECT_EQ(engine.Init(nullptr), c.result);
        EXPECT_EQ(engine.m_strInfoUrl, c.url);
        EXPECT_EQ(engine.m_strFolder, ExeFolder());
        EXPECT_EQ(engine.m_strModuleName, "engine_core_tests.exe");
    }
    SetServerSetting("");
    DeleteFileA(main.c_str());
}

// What the log writes of a fact: UTF-8 from the fact's own code page, on one line, a
// quote escaped so that it cannot end its value, a URL without its credentials or its
// query's values. A log with another link to it, or one that could not be rotated past
// 2 MiB, is not written.
TEST(UpdateLog, FactsAsWritten)
{
    const std::string folder = MakeTempFolder("log"), path = folder + "updater.log", other = folder + "other";
    OpenUpdateLog(path);
    const std::string fur = Ansi(L"f\u00fcr!"); // 0xFC would lead a pair in code page 936
    const struct {
        CLogFact fact;
        const char* written;
    } cases[] = {
        {{"v", "two\r\nlines"}, "v=\"two  lines\""},
        {{"v", "a.exe\" result=200 x=\"\\"}, "v=\"a.exe\\\" result=200 x=\\\"\\\\\""},
        {{"v", fur}, "v=f\xc3\xbcr!"},
        {{"v", -3LL}, "v=-3"},
        {{"v", "\xcd\xf2", CLogFact::USER_TEXT}, "v=\xe4\xb8\x87"},
        {{"u", "http://u:p@ss@h/x?token=abc&x?v=01020003#t", CLogFact::URL},
         "u=http://h/x?token=*&x?v=01020003#*"},
        {{"u", "user:pass@proxy:8080", CLogFact::URL}, "u=proxy:8080"},
    };
    for (const auto& c : cases) {
        LogEvent("e", {c.fact});
        const std::string text = ReadFileBytes(path), line = std::string(" e ") + c.written + "\r\n";
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), line.size())), line);
    }
    WriteFileBytes(other, "x");
    DeleteFileA(path.c_str());
    ASSERT_TRUE(CreateHardLinkA(path.c_str(), other.c_str(), nullptr));
    LogEvent("e");
    EXPECT_EQ(ReadFileBytes(other), "x");
    DeleteFileA(path.c_str());
    WriteFileBytes(path, std::string(2 * 1024 * 1024, 'x'));
    LogEvent("e");
    EXPECT_EQ(ReadFileBytes(path).size(), 2u * 1024 * 1024);
    OpenUpdateLog("");
    RemoveFolder(folder);
}

} // namespace
