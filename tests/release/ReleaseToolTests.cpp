// The release tool: its check over the signed fakes the tests make, each verdict the
// updater's own for the same pair; the lists its answers refuse; the answers it wrote as
// the tests' nginx serves them with its location block (release-server.sh).
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "engine/PackageTrust.h"
#include "engine/UpdateEngine.h"
#include "engine/UpdateInfo.h"

#include <wincrypt.h>

namespace {

// The tool's exit code; what it printed goes to `output`.
DWORD RunTool(const std::string& arguments, std::string& output)
{
    const std::string folder = MakeTempFolder("tool"), file = folder + "out.txt";
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    const HANDLE out = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = out;
    std::string commandLine = "\"" + ExeFolder() + "Module_Client_Updater_Release.exe\" " + arguments;
    PROCESS_INFORMATION process = {};
    DWORD code = 99;
    if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, 30000);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(out);
    output = ReadFileBytes(file);
    RemoveFolder(folder);
    return code;
}

TEST(ReleaseTool, CheckSaysWhatEveryInstalledCopyDoes)
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
    std::string arguments = "check --installed \"" + installed + "\" --installed \"" + bin
                            + "fake_1_2_3_4.exe\" --next-main \"" + by + "b.exe\"";
    for (const auto& c : cases)
        arguments += " \"" + c.package + "\"";
    std::string output;
    EXPECT_EQ(RunTool(arguments, output), 1u);
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
          "NOTE after this release, installed copies accept only packages signed by \"CN=Publisher B"})
        EXPECT_NE(output.find(line), std::string::npos) << line;
    EXPECT_EQ(output.find("WARNING timestamped.exe: signed"), std::string::npos);
    // A main program that requires signed answers, against unsigned ones.
    RunTool("answers --current 1.2.4.0 --oldest 1.1.0.0 --out \"" + folder + "site\" http://h/a.exe", output);
    RunTool("check --installed \"" + by + "vrequires.exe\" --answers \"" + folder + "site\" \"" + by
                + "a.exe\"",
            output);
    EXPECT_NE(
        output.find("WARNING vrequires.exe 1.2.3.4: requires signed answers, and those given are not signed"),
        std::string::npos)
        << output;
    RemoveFolder(folder);
}

TEST(ReleaseTool, AnswersRefuseAListTheUpdaterRefuses)
{
    const std::string out = MakeTempFolder("answers") + "site";
    for (const char* urls : {"ftp://h/a.exe", "http://h/a.exe http://h/A.EXE.", "http://h/dir/",
                             "http://h/verylongname.exe http://h/VERYLO~1.EXE", "http://h/nul.txt"}) {
        SCOPED_TRACE(urls);
        std::string output;
        EXPECT_EQ(RunTool("answers --current 1.2.4.0 --oldest 1.1.0.0 --out \"" + out + "\" " + urls, output),
                  1u);
        EXPECT_FALSE(FileExists(out));
    }
    RemoveFolder(out.substr(0, out.size() - 4));
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
    std::string served = std::string("Z:") + getenv("RELEASE_SERVER") + "/www/download/answers/update.txt";
    std::replace(served.begin(), served.end(), '/', '\\');
    const std::string update = ReadFileBytes(served), content = update.substr(update.find('\n') + 1);
    const std::string cms = ReadFileBytes(by + "cms-answer.txt");
    std::string output, altered = update, alteredCms = cms, forged;
    altered[altered.size() - 3] ^= 1;       // in the package's URL
    alteredCms[alteredCms.size() - 3] ^= 1; // its verdict: the signed digest is another
    // The signature's own last byte changed, the signed digest left as it is.
    DWORD size = 0, chars = 0;
    BYTE der[8192];
    const DWORD kBase64 = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    CryptStringToBinaryA(update.c_str() + 11, static_cast<DWORD>(update.find('\n') - 11), CRYPT_STRING_BASE64,
                         der, &(size = sizeof der), nullptr, nullptr);
    der[size - 1] ^= 1;
    char base64[16384];
    CryptBinaryToStringA(der, size, kBase64, base64, &(chars = sizeof base64));
    forged = "signature: " + std::string(base64, chars) + "\n" + content;
    for (const char* who : {"b", "lookalike"})
        RunTool(std::string("answers --current 1.2.4.0 --oldest 1.1.0.0 --sign \"") + by + who
                    + ".pfx\" --out \"" + folder + who + "\" http://h/setup.exe",
                output);
    const auto refused = CAnswerVerdict::Refused;
    const struct {
        std::string answer;
        const char* main;
        DWORD query;
        int days; // from today
        CAnswerVerdict::Kind kind;
        const char* why; // null: either way it cannot verify
    } cases[] = {
        {update, "vrequires.exe", 0x01020003, 31, CAnswerVerdict::Signed, ""}, // a day of grace
        {cms, "vrequires.exe", 0x01020003, 0, CAnswerVerdict::Signed, ""},
        {"a\nb\nc\nlatest\n", "v1_2_3_4.exe", 0x01020003, 0, CAnswerVerdict::Unsigned, ""},
        {"a\nb\nc\nlatest\n", "vrequires.exe", 0x01020003, 0, refused,
         "not signed, and the installation requires it"},
        {update, "vrequires.exe", 0x01020003, 32, refused, "past its last day"},
        {update, "vrequires.exe", 0x01020004, 0, refused, "for other versions"},
        {update, "vrequires.exe", 0x01000000, 0, refused, "for other versions"},
        {altered, "vrequires.exe", 0x01020003, 0, refused, nullptr},
        {alteredCms, "vrequires.exe", 0x01020003, 0, refused, nullptr},
        {forged, "vrequires.exe", 0x01020003, 0, refused, "signature does not verify"},
        {"a\nb\nc\nlatest\n", "requires_altered.exe", 0x01020003, 0, CAnswerVerdict::Unsigned, ""},
        {"signature: ***\n" + content, "vrequires.exe", 0x01020003, 0, refused, "signature not base64"},
        {ReadFileBytes(folder + "b\\answers\\update.txt"), "vrequires.exe", 0x01020003, 0, refused,
         "signed by another publisher"},
        {ReadFileBytes(folder + "lookalike\\answers\\update.txt"), "vrequires.exe", 0x01020003, 0, refused,
         "signer not trusted for code signing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.substr(0, 40) + " " + c.main + " " + std::to_string(c.days));
        WriteFileBytes(folder + "answer", c.answer);
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart += c.days * 864000000000ULL;
        const FILETIME then = {t.LowPart, t.HighPart};
        SYSTEMTIME day;
        FileTimeToSystemTime(&then, &day);
        const CAnswerVerdict verdict =
            CPackageTrust(by + c.main).JudgeAnswer(folder + "answer", c.query, day);
        EXPECT_EQ(verdict.m_kind, c.kind);
        EXPECT_STREQ(verdict.m_pszWhy, c.why ? c.why : verdict.m_pszWhy);
    }
    RemoveFolder(folder);
}

} // namespace
