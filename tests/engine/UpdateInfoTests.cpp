// The update-info reader against files written byte for byte.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/UpdateInfo.h"

namespace {

using Urls = std::vector<std::string>;
using V = UpdateInfoVerdict;

TEST(UpdateInfo, Shapes)
{
    const std::string head = "x\n\nhead3\n"; // the ignored lines, one of them empty
    const std::string longLine(100000, 'q'); // no fixed line buffer may cut it
    const struct {
        const char* name;
        std::string bytes;
        V verdict;
        Urls urls;
    } cases[] = {
        {"empty file", "", V::Malformed, {}},
        {"no line break at all", "latest", V::Malformed, {}},
        {"three lines only", "a\nb\nc\n", V::Malformed, {}},
        {"latest as the third line", "a\nb\nlatest\n", V::Malformed, {}},
        {"latest", head + "latest\n", V::Latest, {}},
        {"latest without its line break", head + "latest", V::Malformed, {}},
        {"too_old with CR LF", "a\r\nb\r\nc\r\ntoo_old\r\n", V::TooOld, {}},
        {"too_old with CR LF, no final break", "a\r\nb\r\nc\r\ntoo_old\r", V::Malformed, {}},
        {"several trailing CRs", head + "latest\r\r\n", V::Latest, {}},
        {"Latest", head + "Latest\n", V::Malformed, {}},
        {"blank after latest", head + "latest \n", V::Malformed, {}},
        {"tab after too_old", head + "too_old\t\n", V::Malformed, {}},
        {"keyword with a NUL after it", head + std::string("latest\0\n", 8), V::Malformed, {}},
        {"the verdict line decides", "update_files:\nlatest\nlatest\ntoo_old\n", V::TooOld, {}},
        {"rest after latest is not read", head + "latest\nhttp://h/a.exe\n", V::Latest, {}},
        {"empty package list", head + "update_files:\n", V::Packages, {}},
        {"only empty lines after the keyword", head + "update_files:\n\n\r\n\r\n", V::Packages, {}},
        {"empty and CR-only lines skipped, last URL unterminated",
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
        {"order and duplicates kept",
         head + "update_files:\nhttp://h/b\nhttp://h/a\nhttp://h/b\n",
         V::Packages,
         {"http://h/b", "http://h/a", "http://h/b"}},
        {"long lines",
         longLine + "\n\n" + longLine + "\nupdate_files:\n" + longLine + "\n",
         V::Packages,
         {longLine}},
    };
    const std::string folder = MakeTempFolder("uinfo"), path = folder + "update_info";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFileBytes(path, c.bytes);
        Urls urls = {"left by the caller"};
        EXPECT_EQ(static_cast<int>(ReadUpdateInfo(path, urls)), static_cast<int>(c.verdict));
        EXPECT_EQ(urls, c.urls);
    }
    Urls urls;
    EXPECT_EQ(ReadUpdateInfo(folder + "missing", urls), V::Malformed);
    EXPECT_EQ(ReadUpdateInfo(folder, urls), V::Malformed) << "a folder, not a file";
    RemoveFolder(folder);
}

} // namespace
