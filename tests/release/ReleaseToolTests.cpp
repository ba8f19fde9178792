// The release tool: its check over the signed fakes the tests make, each verdict the
// updater's own for the same pair; the lists its answers refuse; the answers it wrote as
// the tests' nginx serves them with its location block (release-server.sh).
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/PackageTrust.h"
#include "engine/UpdateEngine.h"
#include "engine/UpdateInfo.h"

namespace {

// The tool's exit code; what it printed goes to `output`.
DWORD RunTool(const std::string& arguments, std::string* output = nullptr)
{
    // cmd takes the outer quotes off a command that begins with one.
    const std::string command =
        "\"\"" + ExeFolder() + "Module_Client_Updater_Release.exe\" " + arguments + "\"";
    FILE* pipe = _popen(command.c_str(), "rb");
    std::string text;
    for (int c; (c = fgetc(pipe)) != EOF;)
        text += static_cast<char>(c);
    if (output)
        *output = text;
    return _pclose(pipe);
}

TEST(ReleaseTool, RefusedListsAndTheCheckOfWhatEveryInstalledCopyDoes)
{
    const std::string bin = ExeFolder(), by = bin + "signed\\", installed = by + "v1_2_3_4.exe";
    const std::string folder = MakeTempFolder("check");
    WriteFileBytes(folder + "readme.exe", "only text\r\n");
    const struct {
        std::string package;
        const char* verdict;
    } cases[] = {
        {by + "timestamped.exe", "RUNS"},
        {by + "v1_2_3_4.exe", "RUNS"},
        {by + "v1_2_3_3.exe", "REFUSED older 1.2.3.3 is below the installed 1.2.3.4"},
        {by + "b.exe",
         "REFUSED other-publisher signed by \"CN=Publisher B, O=Vantorel Test\", the installation "
         "by \"CN=Publisher A, O=Vantorel Test\""},
        {by + "vhelper.exe", "RUNS not-judged names another product"},
        {by + "a.exe", "RUNS not-judged no version resource"},
        {by + "altered.exe", "REFUSED bad-signature"},
        {by + "lookalike.exe", "REFUSED untrusted"},
        {bin + "fake_noversion.exe", "REFUSED unsigned"},
        {folder + "readme.exe", "REFUSED unreadable"},
    };
    // Answers to a list the updater refuses are not written; the main program that
    // requires signed answers is given unsigned ones.
    const std::string answers = "answers --current 1.2.4.0 --oldest 1.1.0.0 --out \"" + folder + "site\" ";
    for (const char* urls : {"ftp://h/a.exe", "http://h/a.exe http://h/A.EXE.", "http://h/dir/",
                             "http://h/verylongname.exe http://h/VERYLO~1.EXE", "http://h/nul.txt"}) {
        EXPECT_EQ(RunTool(answers + urls), 1u) << urls;
        EXPECT_FALSE(FileExists(folder + "site")) << urls;
    }
    ASSERT_EQ(RunTool(answers + "http://h/a.exe"), 0u);
    std::string arguments = "check --installed \"" + installed + "\" --installed \"" + bin
                            + "fake_1_2_3_4.exe\" --installed \"" + by + "vrequires.exe\" --answers \""
                            + folder + "site\" --next-main \"" + by + "b.exe\"";
    for (const auto& c : cases)
        arguments += " \"" + c.package + "\"";
    std::string output;
    EXPECT_EQ(RunTool(arguments, &output), 1u);
    const CPackageTrust trust(installed);
    for (const auto& c : cases) {
        const std::string name = c.package.substr(c.package.rfind('\\') + 1);
        SCOPED_TRACE(name);
        CHandle lock;
        EXPECT_EQ(trust.Admit(c.package, lock), strncmp(c.verdict, "RUNS", 4) == 0) << "the updater's own";
        for (const char* verdict : {c.verdict, "RUNS unsigned-installation"})
            EXPECT_NE(output.find(name + " 1.2.3.4: " + verdict + "\r\n"), std::string::npos) << output;
    }
    for (const char* line :
         {"WARNING v1_2_3_4.exe: signed without a timestamp: every installed copy refuses it from 20",
          "WARNING v1_2_3_3.exe: product version 1.2.3.3 has the first three parts of the installed 1.2.3.4",
          "WARNING v1_2_3_3.exe: product version 1.2.3.3 is lower than that of timestamped.exe (1.2.4.0)",
          "WARNING vrequires.exe 1.2.3.4: requires signed answers, and those given are not signed",
          "NOTE after this release, installed copies accept only packages signed by \"CN=Publisher B"})
        EXPECT_NE(output.find(line), std::string::npos) << line;
    EXPECT_EQ(output.find("WARNING timestamped.exe: signed"), std::string::npos);
    RemoveFolder(folder);
}

TEST(ReleaseTool, ServedAnswersFollowTheVersionQuery)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const std::string folder = MakeTempFolder("served"), file = folder + "update_info";
    const struct {
        const char* query;
        UpdateInfoVerdict verdict;
    } cases[] = {{"0100ffff", UpdateInfoVerdict::TooOld},
                 {"01010000", UpdateInfoVerdict::Packages},
                 {"01020003", UpdateInfoVerdict::Packages},
                 {"01020004", UpdateInfoVerdict::Latest},
                 {"ffffffff", UpdateInfoVerdict::Latest}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        CUpdateEngine engine;
        const std::string url = std::string("http://127.0.0.13/download/update_info.php?v=") + c.query;
        ASSERT_EQ(engine.HttpDownload(url.c_str(), file.c_str(), false), 200);
        std::vector<std::string> urls;
        EXPECT_EQ(ReadUpdateInfo(file, urls), c.verdict);
        EXPECT_EQ(urls.size(), c.verdict == UpdateInfoVerdict::Packages ? 1u : 0u);
    }
    RemoveFolder(folder);
    WSACleanup();
}

// Answers signed by the tool (the served ones, with A's certificate, and others'), one
// signed by openssl, and unsigned ones, as the updater judges them for the installed 1.2.3.4.
TEST(ReleaseTool, SignedAnswersAsTheUpdaterJudgesThem)
{
    const std::string by = ExeFolder() + "signed\\", folder = MakeTempFolder("answer");
    const std::string update = ReadFileBytes(std::string("Z:") + getenv("RELEASE_SERVER")
                                             + "/www/download/answers/update.txt"),
                      content = update.substr(update.find('\n') + 1),
                      cms = ReadFileBytes(by + "cms-answer.txt");
    std::string altered = update, alteredCms = cms;
    altered[altered.size() - 3] ^= 1;       // in the package's URL
    alteredCms[alteredCms.size() - 3] ^= 1; // its verdict: the signed digest is another
    for (const char* who : {"b", "lookalike"})
        RunTool(std::string("answers --current 1.2.4.0 --oldest 1.1.0.0 --sign \"") + by + who
                + ".pfx\" --out \"" + folder + who + "\" http://h/setup.exe");
    const auto refused = CAnswerVerdict::Refused;
    const std::string plain = "a\nb\nc\nlatest\n";
    const struct {
        std::string answer;
        CAnswerVerdict::Kind kind;
        const char* why; // null: either way it cannot verify
        int days = 0;    // from today
        DWORD query = 0x01020003;
        const char* main = "vrequires.exe";
    } cases[] = {
        {update, CAnswerVerdict::Signed, "", 31}, // a day of grace
        {cms, CAnswerVerdict::Signed, ""},
        {plain, CAnswerVerdict::Unsigned, "", 0, 0x01020003, "v1_2_3_4.exe"},
        {plain, refused, "not signed, and the installation requires it"},
        {update, refused, "past its last day", 32},
        {update, refused, "for other versions", 0, 0x01020004},
        {update, refused, "for other versions", 0, 0x01000000},
        {altered, refused, "signature does not verify"},
        {alteredCms, refused, nullptr},
        {plain, CAnswerVerdict::Unsigned, "", 0, 0x01020003, "requires_altered.exe"},
        {"signature: ***\n" + content, refused, "signature not base64"},
        {ReadFileBytes(folder + "b\\answers\\update.txt"), refused, "signed by another publisher"},
        {ReadFileBytes(folder + "lookalike\\answers\\update.txt"), refused,
         "signer not trusted for code signing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 40) + " " + c.main + " " + std::to_string(c.days));
        WriteFileBytes(folder + "answer", c.answer);
        ULARGE_INTEGER t;
        GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&t));
        t.QuadPart += c.days * 864000000000ULL;
        SYSTEMTIME day;
        FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&t), &day);
        const CAnswerVerdict verdict =
            CPackageTrust(by + c.main).JudgeAnswer(folder + "answer", c.query, day);
        EXPECT_EQ(verdict.m_kind, c.kind);
        EXPECT_STREQ(verdict.m_pszWhy, c.why ? c.why : verdict.m_pszWhy);
    }
    RemoveFolder(folder);
}

} // namespace
