// check: each installed main program given (one per release in the field) against each
// package, judged by the updater's own CPackageTrust; what a publisher needs to know
// besides (warnings, the bridge note) is the tool's own.
#include "release/ReleaseTool.h"

#include <cstdio>
#include <memory>

#include "engine/Handle.h"
#include "engine/PackageTrust.h"
#include "engine/VersionResource.h"

namespace {

struct CProgram {
    std::string m_strPath, m_strName;
    bool m_bVersion = false;
    ULONGLONG m_nVersion = 0;
    CSignerFacts m_signer;
    bool m_bSigned = false;

    std::string VersionName() const { return m_bVersion ? VersionText(m_nVersion) : "(no version)"; }
};

// The file's own facts; false when it cannot be opened.
bool ReadProgram(const std::string& path, CProgram& program)
{
    const CHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    program.m_strPath = path;
    program.m_strName = path.substr(path.find_last_of("\\/") + 1);
    CVersionResource resource;
    program.m_bVersion = ReadVersionResource(file, resource) == FileRead::Found;
    program.m_nVersion = resource.m_nProductVersion;
    program.m_bSigned = ReadSignerFacts(path, program.m_signer);
    return true;
}

std::string Quoted(const std::vector<BYTE>& subject)
{
    return "\"" + NameText(subject) + "\"";
}

std::string DateText(const FILETIME& time)
{
    SYSTEMTIME day = {};
    FileTimeToSystemTime(&time, &day);
    char text[16];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u", day.wYear, day.wMonth, day.wDay);
    return text;
}

// One line: what `trust` (an installed copy) does with the package.
bool Judge(const CPackageTrust& trust, const CProgram& installed, const CProgram& package)
{
    CHandle lock;
    const CPackageVerdict verdict = trust.Judge(package.m_strPath, lock);
    std::string line = package.m_strName + " " + installed.VersionName() + ": ";
    if (verdict.Runs()) {
        line += "RUNS";
        if (verdict.m_publisher == CPackageVerdict::NotChecked)
            line += " unsigned-installation";
        else if (verdict.m_version == CPackageVerdict::NotJudged)
            line += std::string(" not-judged ") + verdict.m_pszWhy;
        else if (verdict.m_version == CPackageVerdict::NotAsked)
            line += " not-judged the installed program names no product";
    } else if (verdict.m_version == CPackageVerdict::Older) {
        line += "REFUSED older " + VersionText(verdict.m_nProductVersion) + " is below the installed "
                + VersionText(trust.ProductVersion());
    } else {
        line += std::string("REFUSED ") + verdict.PublisherWord();
        if (verdict.m_publisher == CPackageVerdict::OtherPublisher)
            line += " signed by " + Quoted(verdict.m_subject) + ", the installation by "
                    + Quoted(trust.Subject());
        else if (verdict.m_publisher == CPackageVerdict::Unreadable && trust.Subject().empty())
            line += " the installed program's signer cannot be read";
    }
    std::printf("%s\n", line.c_str());
    return verdict.Runs();
}

} // namespace

int CheckRelease(const std::vector<std::string>& args)
{
    std::vector<CProgram> installed, packages;
    CProgram next;
    bool bNext = false;
    std::string answers; // the folder `answers` wrote
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--answers" && i + 1 < args.size()) {
            answers = args[++i];
            continue;
        }
        const bool bOption = args[i] == "--installed" || args[i] == "--next-main";
        if (bOption && i + 1 == args.size())
            return Usage(args[i] + " needs a file");
        if (!bOption && args[i].compare(0, 2, "--") == 0)
            return Usage("unknown option " + args[i]);
        const std::string option = bOption ? args[i++] : std::string();
        CProgram program;
        if (!ReadProgram(args[i], program)) {
            std::fprintf(stderr, "cannot open %s\n", args[i].c_str());
            return 2;
        }
        if (option == "--next-main") {
            bNext = true;
            next = program;
        } else {
            (bOption ? installed : packages).push_back(program);
        }
    }
    if (installed.empty() || packages.empty())
        return Usage("check needs an installed main program and a package");

    // Signed answers: every one the tool wrote there begins with its signature.
    bool bSignedAnswers = !answers.empty();
    for (const char* name : {"latest.txt", "too_old.txt", "update.txt"}) {
        char head[12] = "";
        std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen((answers + "\\answers\\" + name).c_str(), "rb"),
                                                   std::fclose);
        bSignedAnswers =
            bSignedAnswers
            && (!file || (std::fread(head, 1, 11, file.get()) == 11 && std::string(head) == "signature: "));
    }
    bool bAllRun = true;
    std::vector<std::string> unsigned_;
    for (const CProgram& main : installed) {
        const CPackageTrust trust(main.m_strPath);
        for (const CProgram& package : packages)
            bAllRun = Judge(trust, main, package) && bAllRun;
        if (trust.RequiresSignedAnswers() && !bSignedAnswers)
            unsigned_.push_back(main.m_strName + " " + main.VersionName());
    }
    for (const std::string& main : unsigned_)
        std::printf(
            "WARNING %s: requires signed answers, and %s: every copy fails its check (answers --sign)\n",
            main.c_str(), answers.empty() ? "none were given (--answers)" : "those given are not signed");

    std::vector<const CProgram*> queried; // one installed program for each version query
    for (const CProgram& main : installed) {
        bool bNew = main.m_bVersion;
        for (const CProgram* pEarlier : queried)
            bNew = bNew && pEarlier->m_nVersion >> 16 != main.m_nVersion >> 16;
        if (bNew)
            queried.push_back(&main);
    }
    for (size_t i = 0; i < packages.size(); ++i) {
        const CProgram& package = packages[i];
        if (package.m_bSigned && !package.m_signer.m_bTimestamped)
            std::printf(
                "WARNING %s: signed without a timestamp: every installed copy refuses it from %s, when "
                "its signing certificate ends\n",
                package.m_strName.c_str(), DateText(package.m_signer.m_notAfter).c_str());
        for (const CProgram* pMain : queried)
            if (package.m_bVersion && package.m_nVersion >> 16 == pMain->m_nVersion >> 16)
                std::printf(
                    "WARNING %s: product version %s has the first three parts of the installed %s: the "
                    "server cannot tell the two apart (the version query carries three parts)\n",
                    package.m_strName.c_str(), package.VersionName().c_str(), pMain->VersionName().c_str());
        for (size_t j = 0; j < i; ++j)
            if (package.m_bVersion && packages[j].m_bVersion && package.m_nVersion < packages[j].m_nVersion) {
                std::printf(
                    "WARNING %s: product version %s is lower than that of %s (%s), listed before it\n",
                    package.m_strName.c_str(), package.VersionName().c_str(), packages[j].m_strName.c_str(),
                    packages[j].VersionName().c_str());
                break;
            }
    }

    // Installed copies learn the publisher from the main program they run: a release
    // whose main program is signed by a new subject is the last their old one accepts.
    for (const CProgram& package : packages) {
        if (!bNext || !package.m_bSigned || package.m_signer.m_subject == next.m_signer.m_subject)
            continue;
        if (!next.m_bSigned)
            std::printf(
                "NOTE the next main program carries no readable signature: after this release, installed "
                "copies run packages of any publisher\n");
        else
            std::printf(
                "NOTE after this release, installed copies accept only packages signed by %s; this release "
                "itself must be signed by %s, as installed copies know it: a bridge release (the "
                "installer signed as before, the main program inside signed with the new certificate)\n",
                Quoted(next.m_signer.m_subject).c_str(), Quoted(package.m_signer.m_subject).c_str());
        break;
    }
    return bAllRun ? 0 : 1;
}
