// answers: what the update server answers for every version query, and the server's
// configuration that serves it (an nginx location block and a PHP script). The package
// URLs go through the updater's own rules, and the list is read back through its own
// reader before anything is written: what the tool writes, the updater takes as written.
#include "release/ReleaseTool.h"

#include <wincrypt.h>

#include <cstdio>
#include <memory>

#include "engine/UpdateEngine.h"
#include "engine/UpdateInfo.h"
#include "engine/VersionResource.h"

#include <cstdlib>

namespace {

struct CAnswer {
    const char* m_pszName; // its file in the answers folder, and its keyword
    const char* m_pszKeyword;
    DWORD m_dwFrom, m_dwTo; // the version queries it answers, both included
};

// The version query of a version: its first three parts as the updater packs them; false
// when it cannot carry them (a major or minor part above 255).
bool QueryValue(ULONGLONG version, DWORD& value)
{
    const DWORD major = version >> 48 & 0xFFFF, minor = version >> 32 & 0xFFFF,
                third = version >> 16 & 0xFFFF;
    value = major << 24 | minor << 16 | third;
    return major <= 255 && minor <= 255;
}

std::string Hex(DWORD value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(value));
    return text;
}

// A regular expression for the eight-hex-digit values at or above `value`, or below it:
// the first digit that differs decides, so the server compares them as numbers.
std::string Pattern(DWORD value, bool bAtOrAbove)
{
    const std::string hex = Hex(value), digits = "0123456789abcdef";
    std::string alternatives = bAtOrAbove ? hex : std::string();
    for (size_t i = 0; i < hex.size(); ++i) {
        const size_t d = digits.find(hex[i]);
        const std::string set = bAtOrAbove ? digits.substr(d + 1) : digits.substr(0, d);
        if (!set.empty())
            alternatives += (alternatives.empty() ? "" : "|") + hex.substr(0, i) + "[" + set + "]"
                            + (i < 7 ? "[0-9a-f]{" + std::to_string(7 - i) + "}" : "");
    }
    return alternatives;
}

// Whether `alias` could be the system's short (8.3) name of `name` on some machine, and so
// the same file in update_files: a base of at most six characters (two and a hash, after
// many alike) and "~<digits>", the same first three characters of the extension.
bool CouldBeShortName(const std::string& alias, const std::string& name)
{
    const auto upper = [](std::string text) {
        CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
        return text;
    };
    const std::string a = upper(alias), n = upper(name);
    const size_t tilde = a.find('~'), aDot = a.rfind('.'), nDot = n.rfind('.');
    const std::string aExt = aDot == std::string::npos ? "" : a.substr(aDot + 1);
    const std::string nBase = n.substr(0, nDot), nExt = nDot == std::string::npos ? "" : n.substr(nDot + 1);
    std::string cleaned; // the characters a short name keeps
    for (const char c : nBase)
        if (c != ' ' && c != '.')
            cleaned += c;
    const bool bFits = nBase.size() <= 8 && nExt.size() <= 3 && cleaned.size() == nBase.size();
    return !bFits && tilde != std::string::npos && tilde >= 1 && tilde <= 6
           && a.find_first_not_of("0123456789", tilde + 1) == aDot && aDot > tilde + 1
           && aExt == nExt.substr(0, 3)
           && cleaned.compare(0, std::min<size_t>(tilde, 2), a, 0, std::min<size_t>(tilde, 2)) == 0;
}

// Signs answers with the publisher's certificate and key from a .pfx file, through the
// system's own signing: the key is used in memory, and nothing is stored.
class CAnswerSigner {
public:
    CAnswerSigner() = default;
    CAnswerSigner(const CAnswerSigner&) = delete;
    CAnswerSigner& operator=(const CAnswerSigner&) = delete;
    ~CAnswerSigner()
    {
        for (PCCERT_CONTEXT p : m_certs)
            CertFreeCertificateContext(p);
        if (m_hStore)
            CertCloseStore(m_hStore, 0);
    }
    // Why the file cannot sign, or null.
    const char* Open(const std::string& pfx, const std::string& password)
    {
        std::string bytes;
        {
            std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(pfx.c_str(), "rb"), std::fclose);
            char buffer[4096];
            for (size_t n; file && (n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0;)
                bytes.append(buffer, n);
        }
        CRYPT_DATA_BLOB blob = {static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
        const std::wstring widePassword(password.begin(), password.end());
        m_hStore = bytes.empty() ? nullptr
                                 : PFXImportCertStore(&blob, widePassword.c_str(),
                                                      CRYPT_EXPORTABLE | PKCS12_NO_PERSIST_KEY);
        if (!m_hStore)
            return "cannot read the certificate file (or its password is another)";
        // All of its certificates go with each signature: the copies need the
        // intermediates to build the signer's chain.
        for (PCCERT_CONTEXT p = nullptr; (p = CertEnumCertificatesInStore(m_hStore, p)) != nullptr;) {
            m_certs.push_back(CertDuplicateCertificateContext(p));
            DWORD size = 0;
            if (!m_pSigner
                && (CertGetCertificateContextProperty(p, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)
                    || CertGetCertificateContextProperty(p, CERT_KEY_CONTEXT_PROP_ID, nullptr, &size)
                    || CertGetCertificateContextProperty(p, CERT_NCRYPT_KEY_HANDLE_PROP_ID, nullptr, &size)))
                m_pSigner = m_certs.back();
        }
        return m_pSigner ? nullptr : "the certificate file holds no key";
    }
    // A detached signature of `content` (SHA-256), in base64 on one line; empty on failure.
    std::string Sign(const std::string& content) const
    {
        CRYPT_SIGN_MESSAGE_PARA para = {};
        para.cbSize = sizeof para;
        para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
        para.pSigningCert = m_pSigner;
        para.HashAlgorithm.pszObjId = const_cast<char*>(szOID_NIST_sha256);
        para.cMsgCert = static_cast<DWORD>(m_certs.size());
        para.rgpMsgCert = const_cast<PCCERT_CONTEXT*>(m_certs.data());
        const BYTE* pContent = reinterpret_cast<const BYTE*>(content.data());
        DWORD contentSize = static_cast<DWORD>(content.size()), size = 0, chars = 0;
        std::vector<BYTE> der;
        if (!CryptSignMessage(&para, TRUE, 1, &pContent, &contentSize, nullptr, &size)
            && GetLastError() == static_cast<DWORD>(NTE_BAD_ALGID) && MoveKeyToAesProvider())
            size = 0;
        if (!CryptSignMessage(&para, TRUE, 1, &pContent, &contentSize, nullptr, &size)
            || (der.resize(size),
                !CryptSignMessage(&para, TRUE, 1, &pContent, &contentSize, der.data(), &size)))
            return std::string();
        const DWORD kFlags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
        std::string text;
        if (!CryptBinaryToStringA(der.data(), size, kFlags, nullptr, &chars)
            || (text.resize(chars), !CryptBinaryToStringA(der.data(), size, kFlags, &text[0], &chars)))
            return std::string();
        text.resize(chars);
        return text;
    }

private:
    // A key the file put in a provider without SHA-256 (the older RSA providers, which
    // Wine gives it) moves to one with it, in memory only.
    bool MoveKeyToAesProvider() const
    {
        HCRYPTPROV hOld = 0;
        DWORD keySpec = 0;
        BOOL bFree = FALSE;
        HCRYPTKEY hKey = 0;
        DWORD size = 0;
        std::vector<BYTE> blob;
        // A key the import left in memory is the certificate's key context.
        CERT_KEY_CONTEXT held = {};
        DWORD heldSize = sizeof held;
        if (CertGetCertificateContextProperty(m_pSigner, CERT_KEY_CONTEXT_PROP_ID, &held, &heldSize)) {
            hOld = held.hCryptProv;
            keySpec = held.dwKeySpec;
        }
        const bool bExported =
            (hOld || CryptAcquireCertificatePrivateKey(m_pSigner, 0, nullptr, &hOld, &keySpec, &bFree))
            && CryptGetUserKey(hOld, keySpec, &hKey)
            && CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, nullptr, &size)
            && (blob.resize(size), CryptExportKey(hKey, 0, PRIVATEKEYBLOB, 0, blob.data(), &size));
        if (hKey)
            CryptDestroyKey(hKey);
        if (bFree)
            CryptReleaseContext(hOld, 0);
        HCRYPTPROV hAes = 0;
        HCRYPTKEY hNew = 0;
        CERT_KEY_CONTEXT context = {sizeof context, {0}, keySpec};
        const bool bMoved =
            bExported
            && CryptAcquireContextW(&hAes, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)
            && CryptImportKey(hAes, blob.data(), size, 0, 0, &hNew)
            && (context.hCryptProv = hAes,
                CertSetCertificateContextProperty(m_pSigner, CERT_KEY_CONTEXT_PROP_ID, 0, &context));
        SecureZeroMemory(blob.data(), blob.size());
        if (hNew)
            CryptDestroyKey(hNew);
        if (!bMoved && hAes)
            CryptReleaseContext(hAes, 0);
        return bMoved; // the certificate's property now holds the provider
    }

    HCERTSTORE m_hStore = nullptr;
    PCCERT_CONTEXT m_pSigner = nullptr;
    std::vector<PCCERT_CONTEXT> m_certs;
};

bool SaveFile(const std::string& path, const std::string& bytes)
{
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    return file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size()
           && std::fclose(file.release()) == 0;
}

// The answer's file: three free lines, the verdict and the URLs. Signed, its first line
// is the signature of the rest, and the second says what it is for: the version queries,
// and the last day (`until`, empty: none).
std::string AnswerText(const CAnswer& answer, ULONGLONG current, const std::vector<std::string>& urls,
                       const CAnswerSigner* pSigner = nullptr, const std::string& until = std::string())
{
    std::string text = "for v=" + Hex(answer.m_dwFrom) + "-" + Hex(answer.m_dwTo)
                       + (until.empty() ? "" : " until " + until) + "\nVantorel " + VersionText(current)
                       + "\n" + answer.m_pszKeyword + "\n";
    if (std::string(answer.m_pszKeyword) == "update_files:")
        for (const std::string& url : urls)
            text += url + "\n";
    if (!pSigner)
        return "Vantorel update answer\n" + text;
    const std::string signature = pSigner->Sign(text);
    return signature.empty() ? std::string() : "signature: " + signature + "\n" + text;
}

} // namespace

int WriteServerAnswers(const std::vector<std::string>& args)
{
    std::string current, oldest, out, pfx, password, validDays;
    std::vector<std::string> urls;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string* const value = args[i] == "--current"      ? &current
                                   : args[i] == "--oldest"     ? &oldest
                                   : args[i] == "--out"        ? &out
                                   : args[i] == "--sign"       ? &pfx
                                   : args[i] == "--password"   ? &password
                                   : args[i] == "--valid-days" ? &validDays
                                                               : nullptr;
        if (value && i + 1 == args.size())
            return Usage(args[i] + " needs a value");
        if (!value && args[i].compare(0, 2, "--") == 0)
            return Usage("unknown option " + args[i]);
        if (value)
            *value = args[++i];
        else
            urls.push_back(args[i]);
    }
    ULONGLONG currentVersion = 0, oldestVersion = 0;
    DWORD currentQuery = 0, oldestQuery = 0;
    if (!ParseVersion(current, currentVersion) || !ParseVersion(oldest, oldestVersion))
        return Usage("--current and --oldest need a version a.b.c.d");
    if (!QueryValue(currentVersion, currentQuery) || !QueryValue(oldestVersion, oldestQuery))
        return Usage("a version query carries major and minor parts up to 255 only");
    if (oldestQuery > currentQuery)
        return Usage("--oldest is above --current");
    if (out.empty() || urls.empty())
        return Usage("answers needs --out and a package URL");
    char* end = nullptr;
    const unsigned long days = std::strtoul(validDays.c_str(), &end, 10);
    if (!validDays.empty()
        && (validDays[0] < '0' || validDays[0] > '9' || *end || days > 3650 || pfx.empty()))
        return Usage("--valid-days needs --sign and a number of days up to 3650");
    CAnswerSigner signer;
    if (!pfx.empty())
        if (const char* why = signer.Open(pfx, password)) {
            std::fprintf(stderr, "%s: %s\n", pfx.c_str(), why);
            return 2;
        }
    // The last day, in UTC, on which the signed answers may be used.
    std::string until;
    if (!validDays.empty()) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        ULARGE_INTEGER t = {{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart += days * 864000000000ULL;
        const FILETIME last = {t.LowPart, t.HighPart};
        SYSTEMTIME day;
        FileTimeToSystemTime(&last, &day);
        until = std::to_string(day.wYear) + (day.wMonth < 10 ? "-0" : "-") + std::to_string(day.wMonth)
                + (day.wDay < 10 ? "-0" : "-") + std::to_string(day.wDay);
    }

    // Refused as the updater refuses them: any one fails the whole list.
    std::vector<std::string> names;
    std::string why = urls.size() > kMaxPackages ? "more than 100 packages" : "";
    for (const std::string& url : urls)
        if (why.empty() && (!IsDownloadUrl(url) || url.find_first_of("\r\n") != std::string::npos))
            why = url + ": neither http:// nor https://, or on more than one line";
    if (why.empty() && !PackageFileNames(urls, names))
        why = "a URL names no file after its last '/', a device, a file outside the download folder, or one "
              "named before";
    for (size_t i = 0; why.empty() && i < names.size(); ++i)
        for (size_t j = 0; j < names.size(); ++j)
            if (i != j && CouldBeShortName(names[i], names[j]))
                why = names[i] + " may be the short name of " + names[j] + ", the same file in update_files";

    std::vector<CAnswer> answers = {{"latest.txt", "latest", currentQuery, 0xFFFFFFFF}};
    if (oldestQuery > 0)
        answers.push_back({"too_old.txt", "too_old", 0, oldestQuery - 1});
    if (oldestQuery < currentQuery)
        answers.push_back({"update.txt", "update_files:", oldestQuery, currentQuery - 1});
    const std::string folder = out + "\\answers\\";
    // The update list, read back as the updater reads it.
    const std::string update =
        AnswerText({"", "update_files:", oldestQuery, currentQuery}, currentVersion, urls);
    std::vector<std::string> read;
    char temp[MAX_PATH], probe[MAX_PATH] = "";
    if (why.empty() && update.size() > static_cast<size_t>(kMaxUpdateInfoSize))
        why = "the list is longer than the 64 KiB the updater reads";
    if (why.empty()
        && (!GetTempPathA(MAX_PATH, temp) || !GetTempFileNameA(temp, "upd", 0, probe)
            || !SaveFile(probe, update) || ReadUpdateInfo(probe, read) != UpdateInfoVerdict::Packages
            || read != urls))
        why = "the updater would not read the list back as given";
    DeleteFileA(probe);
    if (!why.empty()) {
        std::fprintf(stderr, "refused: %s; nothing written\n", why.c_str());
        return 1;
    }

    CreateDirectoryA(out.c_str(), nullptr);
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const CAnswer& answer : answers) {
        const std::string text =
            AnswerText(answer, currentVersion, urls, pfx.empty() ? nullptr : &signer, until);
        if (text.empty() || !SaveFile(folder + answer.m_pszName, text)) {
            std::fprintf(stderr, "cannot %s %s%s\n", text.empty() ? "sign" : "write", folder.c_str(),
                         answer.m_pszName);
            return 2;
        }
    }
    const std::string head = "# The update server's answers for Vantorel " + VersionText(currentVersion)
                             + ", made by Module_Client_Updater_Release.\n";
    const std::string tooOld = oldestQuery ? "    if ($arg_v ~* \"^(" + Pattern(oldestQuery, false)
                                                 + ")$\") { set $answer too_old; }\n"
                                           : "";
    const std::string nginx =
        head
        + "# Include it in the server block whose root holds this folder as /download/.\n"
          "location = /download/update_info.php {\n"
          "    default_type text/plain;\n"
          "    if ($arg_v !~* \"^[0-9a-f]{8}$\") { return 404; }\n"
          "    set $answer update;\n"
          "    if ($arg_v ~* \"^("
        + Pattern(currentQuery, true) + ")$\") { set $answer latest; }\n" + tooOld
        + "    rewrite ^ /download/answers/$answer.txt break;\n}\n";
    const std::string php = "<?php\n" + head
                            + "$v = isset($_GET['v']) ? $_GET['v'] : '';\n"
                              "if (!preg_match('/^[0-9a-fA-F]{8}$/', $v)) {\n"
                              "    http_response_code(404);\n"
                              "    exit;\n"
                              "}\n"
                              "$n = hexdec($v);\n"
                              "$answer = $n >= 0x"
                            + Hex(currentQuery) + " ? 'latest' : ($n < 0x" + Hex(oldestQuery)
                            + " ? 'too_old' : 'update');\n"
                              "$file = __DIR__ . '/answers/' . $answer . '.txt';\n"
                              "header('Content-Type: text/plain');\n"
                              "header('Content-Length: ' . filesize($file));\n"
                              "readfile($file);\n";
    if (!SaveFile(out + "\\nginx.conf", nginx) || !SaveFile(out + "\\update_info.php", php)) {
        std::fprintf(stderr, "cannot write the server's configuration in %s\n", out.c_str());
        return 2;
    }
    std::printf("v=%s (--oldest %s) is the lowest version query answered with the packages, v=%s (--current "
                "%s) the lowest answered latest\n"
                "try http://<server>/download/update_info.php?v=%s\n",
                Hex(oldestQuery).c_str(), oldest.c_str(), Hex(currentQuery).c_str(), current.c_str(),
                Hex(oldestQuery).c_str());
    return 0;
}
