// The update-info reader against files written byte for byte.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "TestHttpServer.h"
#include "engine/UpdateInfo.h"

namespace {

using Urls = std::vector<std::string>;

const char* VerdictName(UpdateInfoVerdict v)
{
    switch (v) {
    case UpdateInfoVerdict::Malformed:
        return "malformed";
    case UpdateInfoVerdict::Latest:
        return "latest";
    case UpdateInfoVerdict::TooOld:
        return "too old";
    case UpdateInfoVerdict::Packages:
        return "packages";
    }
    return "?";
}

class UpdateInfo : public ::testing::Test {
protected:
    void SetUp() override { m_folder = MakeTempFolder("uinfo"); }
    void TearDown() override { RemoveFolder(m_folder); }

    std::string Write(const std::string& bytes)
    {
        const std::string path = m_folder + "update_info";
        std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string m_folder;
};

struct InfoCase {
    const char* name;
    std::string bytes;
    UpdateInfoVerdict verdict;
    Urls urls;
};

TEST_F(UpdateInfo, Shapes)
{
    using V = UpdateInfoVerdict;
    const std::string head = "x\n\nhead3\n"; // the ignored lines; one of them empty
    const InfoCase cases[] = {
        {"empty file", "", V::Malformed, {}},
        {"no line break at all", "latest", V::Malformed, {}},
        {"three lines only", "a\nb\nc\n", V::Malformed, {}},
        {"latest as the third line", "a\nb\nlatest\n", V::Malformed, {}},
        {"latest", head + "latest\n", V::Latest, {}},
        {"latest without its line break", head + "latest", V::Malformed, {}},
        {"too_old", head + "too_old\n", V::TooOld, {}},
        {"too_old with CR LF", "a\r\nb\r\nc\r\ntoo_old\r\n", V::TooOld, {}},
        {"too_old with CR LF, no final break", "a\r\nb\r\nc\r\ntoo_old\r", V::Malformed, {}},
        {"several trailing CRs", head + "latest\r\r\n", V::Latest, {}},
        {"Latest", head + "Latest\n", V::Malformed, {}},
        {"blank before latest", head + " latest\n", V::Malformed, {}},
        {"blank after latest", head + "latest \n", V::Malformed, {}},
        {"tab after too_old", head + "too_old\t\n", V::Malformed, {}},
        {"UPDATE_FILES:", head + "UPDATE_FILES:\nhttp://h/a.exe\n", V::Malformed, {}},
        {"update_files without colon", head + "update_files\nhttp://h/a.exe\n", V::Malformed, {}},
        {"keyword with a NUL after it", head + std::string("latest\0\n", 8), V::Malformed, {}},
        {"keywords only in the ignored lines", "latest\ntoo_old\nupdate_files:\nnews\n", V::Malformed, {}},
        {"verdict line decides over ignored lines",
         "update_files:\nlatest\nlatest\ntoo_old\n",
         V::TooOld,
         {}},
        {"rest after latest is not read", head + "latest\nhttp://h/a.exe\n", V::Latest, {}},
        {"empty package list", head + "update_files:\n", V::Packages, {}},
        {"only empty lines after the keyword", head + "update_files:\n\n\r\n\r\n", V::Packages, {}},
        {"URLs around an empty and a CR-only line, last one unterminated",
         head + "update_files:\nhttp://h/one.exe\n\n\r\nhttp://h/two.exe",
         V::Packages,
         {"http://h/one.exe", "http://h/two.exe"}},
        {"CR LF package lines",
         "a\r\nb\r\nc\r\nupdate_files:\r\nhttp://h/1.exe\r\nhttp://h/2.exe\r\n",
         V::Packages,
         {"http://h/1.exe", "http://h/2.exe"}},
        {"blanks kept, nothing unescaped",
         head + "update_files:\n  http://h/a b%20.exe \n",
         V::Packages,
         {"  http://h/a b%20.exe "}},
        {"order kept, duplicates kept",
         head + "update_files:\nhttp://h/b\nhttp://h/a\nhttp://h/b\n",
         V::Packages,
         {"http://h/b", "http://h/a", "http://h/b"}},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.name);
        Urls urls;
        const UpdateInfoVerdict verdict = ReadUpdateInfo(Write(c.bytes), urls);
        EXPECT_STREQ(VerdictName(verdict), VerdictName(c.verdict));
        EXPECT_EQ(urls, c.urls);
    }
}

TEST_F(UpdateInfo, MissingFileIsMalformed)
{
    Urls urls;
    EXPECT_EQ(ReadUpdateInfo(m_folder + "no_such_file", urls), UpdateInfoVerdict::Malformed);
    EXPECT_EQ(ReadUpdateInfo(m_folder, urls), UpdateInfoVerdict::Malformed); // a folder, not a file
}

TEST_F(UpdateInfo, ListStartsEmptyWhateverTheCallerPassed)
{
    Urls urls = {"stale"};
    EXPECT_EQ(ReadUpdateInfo(Write("a\nb\nc\nupdate_files:\nhttp://h/new.exe\n"), urls),
              UpdateInfoVerdict::Packages);
    EXPECT_EQ(urls, Urls{"http://h/new.exe"});

    urls = {"stale"};
    EXPECT_EQ(ReadUpdateInfo(Write("a\nb\nc\nlatest\n"), urls), UpdateInfoVerdict::Latest);
    EXPECT_TRUE(urls.empty());
}

TEST_F(UpdateInfo, NoLimitOnLinesOrLineLength)
{
    // Long ignored lines and a long URL: no fixed line buffer may cut them.
    const std::string longLine(100000, 'q');
    std::string bytes = longLine + "\n" + longLine + "\n" + longLine + "\nupdate_files:\n";
    Urls expected;
    for (int i = 0; i < 20000; ++i) {
        expected.push_back("http://h/p" + std::to_string(i) + ".exe");
        bytes += expected.back() + "\r\n";
    }
    expected.push_back("http://h/" + longLine);
    bytes += expected.back();

    Urls urls;
    ASSERT_EQ(ReadUpdateInfo(Write(bytes), urls), UpdateInfoVerdict::Packages);
    ASSERT_EQ(urls.size(), expected.size());
    EXPECT_TRUE(urls == expected);
}

} // namespace
