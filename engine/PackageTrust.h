// Which packages may run. An installed main program whose header carries a signature
// names its publisher (its signer certificate's subject); from then on only packages
// validly signed by that same publisher run. A main program that carries no signature
// at all lets every package run; one that cannot be read lets none. Among the publisher's
// packages, one naming the main program's product in its version resource must carry at
// least the main program's product version: an older installer the publisher once signed
// (a rollback to a known hole) is refused. The server's answer (the update-info file) may
// carry the same publisher's signature, which is then checked with the same signer check;
// a main program that says so requires it. The updater and the release tool both ask
// here. Lives on the thread that made it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "engine/Handle.h"

// What the checks say of one package.
struct CPackageVerdict {
    enum Publisher {
        NotChecked, // the installation carries no signature: every package runs
        Admitted,
        Unsigned,
        BadSignature, // signed, but the signature does not verify over the file
        Untrusted,    // it verifies, but its chain is not a trusted one for code signing
        OtherPublisher,
        Unreadable // no program the check can read, or the installation's own signer unknown
    };
    enum Version {
        NotAsked, // the publisher check came first, or the installation names no product
        NotOlder,
        Older,
        NotJudged // the package cannot be told to be this product's: `m_pszWhy`
    };
    Publisher m_publisher = Unreadable;
    Version m_version = NotAsked;
    const char* m_pszWhy = "";
    std::vector<BYTE> m_subject;     // the package's signer's, where it was read
    ULONGLONG m_nProductVersion = 0; // the package's, where it was read

    // As the log and the release tool name them.
    const char* PublisherWord() const
    {
        static const char* const kWords[] = {"not-checked", "admitted",        "unsigned",  "bad-signature",
                                             "untrusted",   "other-publisher", "unreadable"};
        return kWords[m_publisher];
    }
    const char* VersionWord() const
    {
        static const char* const kWords[] = {"not-asked", "not-older", "older", "not-judged"};
        return kWords[m_version];
    }
    bool Runs() const { return (m_publisher == NotChecked || m_publisher == Admitted) && m_version != Older; }
};

// What the checks say of the server's answer.
struct CAnswerVerdict {
    enum Kind {
        Unsigned, // read as ever
        Signed,   // by the installation's publisher, for this version, in time
        Refused   // `m_pszWhy`
    };
    Kind m_kind = Refused;
    const char* m_pszWhy = "";
};

class CPackageTrust {
public:
    // Reads the publisher from the main program's signature, if it carries one, and then
    // its product's names and version.
    explicit CPackageTrust(const std::string& mainProgram);

    // Judges `package`. Where a check is made, `lock` then holds the file open with
    // writing and deletion denied, so what was checked is what runs; release it once the
    // package's process exists.
    CPackageVerdict Judge(const std::string& package, CHandle& lock) const;
    bool Admit(const std::string& package, CHandle& lock) const { return Judge(package, lock).Runs(); }
    // Whether packages are checked at all (the main program carries a signature).
    bool Checks() const { return m_bSigned; }
    const std::vector<BYTE>& Subject() const { return m_subject; }
    ULONGLONG ProductVersion() const { return m_nVersion; }
    // Whether the version rule applies: the main program names its product.
    bool JudgesVersions() const { return !m_products.empty(); }
    // Whether the main program requires signed answers: its version resource says
    // UpdateInfoSigned=1 in a string table, and its own signature checks out.
    bool RequiresSignedAnswers() const { return m_bAnswersSigned; }

    // Judges the answer at `path`, asked with the version query `query` on `today` (UTC).
    // One whose first line begins "signature: " must carry a valid detached signature of
    // the rest of the file by this publisher, whose second line, "for v=<from>-<to>" and
    // maybe " until <YYYY-MM-DD>", covers the query and today (a day of grace for clocks).
    CAnswerVerdict JudgeAnswer(const std::string& path, DWORD query, const SYSTEMTIME& today) const;

private:
    bool m_bSigned = false;
    std::vector<BYTE> m_subject;          // the signer certificate's encoded subject
    std::vector<std::wstring> m_products; // its product names, trimmed; none: no version rule
    ULONGLONG m_nVersion = 0;             // the product version's four parts, first part highest
    bool m_bAnswersSigned = false;
};

// What a program's embedded signature says of its signer, as written (not verified):
// its subject, the end of its certificate, and whether a timestamp vouches for the time
// of signing. False when it names no signer that can be read.
struct CSignerFacts {
    std::vector<BYTE> m_subject;
    FILETIME m_notAfter = {};
    bool m_bTimestamped = false;
};
bool ReadSignerFacts(const std::string& program, CSignerFacts& facts);

// A certificate's encoded name as text ("O=..., CN=...").
std::string NameText(const std::vector<BYTE>& name);
