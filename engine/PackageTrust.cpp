#include "engine/PackageTrust.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "framework/SystemLibrary.h"
#include "engine/VersionResource.h"
#include "framework/UserText.h"

namespace {

// The trust functions, loaded when a package is first checked.
struct CTrustApi {
    CTrustApi()
    {
        const HMODULE wintrust = LoadSystemLibrary("wintrust.dll"),
                      crypt32 = LoadSystemLibrary("crypt32.dll");
        WinVerifyTrust = SystemFunction<decltype(&::WinVerifyTrust)>(wintrust, "WinVerifyTrust");
        WTHelperProvDataFromStateData = SystemFunction<decltype(&::WTHelperProvDataFromStateData)>(
            wintrust, "WTHelperProvDataFromStateData");
        WTHelperGetProvSignerFromChain = SystemFunction<decltype(&::WTHelperGetProvSignerFromChain)>(
            wintrust, "WTHelperGetProvSignerFromChain");
        CryptQueryObject = SystemFunction<decltype(&::CryptQueryObject)>(crypt32, "CryptQueryObject");
        CryptMsgGetParam = SystemFunction<decltype(&::CryptMsgGetParam)>(crypt32, "CryptMsgGetParam");
        CryptMsgClose = SystemFunction<decltype(&::CryptMsgClose)>(crypt32, "CryptMsgClose");
        CertFindCertificateInStore =
            SystemFunction<decltype(&::CertFindCertificateInStore)>(crypt32, "CertFindCertificateInStore");
        CertFreeCertificateContext =
            SystemFunction<decltype(&::CertFreeCertificateContext)>(crypt32, "CertFreeCertificateContext");
        CertCloseStore = SystemFunction<decltype(&::CertCloseStore)>(crypt32, "CertCloseStore");
        CertGetEnhancedKeyUsage =
            SystemFunction<decltype(&::CertGetEnhancedKeyUsage)>(crypt32, "CertGetEnhancedKeyUsage");
        CertVerifyCertificateChainPolicy = SystemFunction<decltype(&::CertVerifyCertificateChainPolicy)>(
            crypt32, "CertVerifyCertificateChainPolicy");
        CertNameToStrA = SystemFunction<decltype(&::CertNameToStrA)>(crypt32, "CertNameToStrA");
        CryptMsgOpenToDecode =
            SystemFunction<decltype(&::CryptMsgOpenToDecode)>(crypt32, "CryptMsgOpenToDecode");
        CryptMsgUpdate = SystemFunction<decltype(&::CryptMsgUpdate)>(crypt32, "CryptMsgUpdate");
        CryptMsgControl = SystemFunction<decltype(&::CryptMsgControl)>(crypt32, "CryptMsgControl");
        CertOpenStore = SystemFunction<decltype(&::CertOpenStore)>(crypt32, "CertOpenStore");
        CertGetCertificateChain =
            SystemFunction<decltype(&::CertGetCertificateChain)>(crypt32, "CertGetCertificateChain");
        CertFreeCertificateChain =
            SystemFunction<decltype(&::CertFreeCertificateChain)>(crypt32, "CertFreeCertificateChain");
        CryptStringToBinaryA =
            SystemFunction<decltype(&::CryptStringToBinaryA)>(crypt32, "CryptStringToBinaryA");
        m_bLoaded = WinVerifyTrust && WTHelperProvDataFromStateData && WTHelperGetProvSignerFromChain
                    && CryptQueryObject && CryptMsgGetParam && CryptMsgClose && CertFindCertificateInStore
                    && CertFreeCertificateContext && CertCloseStore && CertGetEnhancedKeyUsage
                    && CertVerifyCertificateChainPolicy && CertNameToStrA && CryptMsgOpenToDecode
                    && CryptMsgUpdate && CryptMsgControl && CertOpenStore && CertGetCertificateChain
                    && CertFreeCertificateChain && CryptStringToBinaryA;
    }
    bool Loaded() const { return m_bLoaded; }

    decltype(&::WinVerifyTrust) WinVerifyTrust;
    decltype(&::WTHelperProvDataFromStateData) WTHelperProvDataFromStateData;
    decltype(&::WTHelperGetProvSignerFromChain) WTHelperGetProvSignerFromChain;
    decltype(&::CryptQueryObject) CryptQueryObject;
    decltype(&::CryptMsgGetParam) CryptMsgGetParam;
    decltype(&::CryptMsgClose) CryptMsgClose;
    decltype(&::CertFindCertificateInStore) CertFindCertificateInStore;
    decltype(&::CertFreeCertificateContext) CertFreeCertificateContext;
    decltype(&::CertCloseStore) CertCloseStore;
    decltype(&::CertGetEnhancedKeyUsage) CertGetEnhancedKeyUsage;
    decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy;
    decltype(&::CertNameToStrA) CertNameToStrA;
    decltype(&::CryptMsgOpenToDecode) CryptMsgOpenToDecode;
    decltype(&::CryptMsgUpdate) CryptMsgUpdate;
    decltype(&::CryptMsgControl) CryptMsgControl;
    decltype(&::CertOpenStore) CertOpenStore;
    decltype(&::CertGetCertificateChain) CertGetCertificateChain;
    decltype(&::CertFreeCertificateChain) CertFreeCertificateChain;
    decltype(&::CryptStringToBinaryA) CryptStringToBinaryA;

private:
    bool m_bLoaded;
};

const CTrustApi& Api()
{
    static const CTrustApi api; // the worker's thread is the only one that checks
    return api;
}

bool NamesCodeSigning(PCCERT_CONTEXT pCert)
{
    DWORD size = 0;
    if (!Api().CertGetEnhancedKeyUsage(pCert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)
        || size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    auto* pUsage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
    if (!Api().CertGetEnhancedKeyUsage(pCert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, pUsage, &size))
        return false;
    for (DWORD i = 0; i < pUsage->cUsageIdentifier; ++i)
        if (strcmp(pUsage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0)
            return true;
    return false;
}

// A message's parameter, empty when it has none.
std::vector<BYTE> MessageParam(HCRYPTMSG hMsg, DWORD type)
{
    DWORD size = 0;
    std::vector<BYTE> bytes;
    if (Api().CryptMsgGetParam(hMsg, type, 0, nullptr, &size) && size != 0) {
        bytes.resize(size);
        if (!Api().CryptMsgGetParam(hMsg, type, 0, bytes.data(), &size))
            bytes.clear();
    }
    return bytes;
}

// The one signer check of everything the server sends, packages and answers: a chain that
// ends at a trusted root for code signing, with no error besides an unknown revocation
// status, and a signer certificate that itself names code signing.
bool SoundChain(PCCERT_CHAIN_CONTEXT pChain, PCCERT_CONTEXT pSigner)
{
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    const DWORD tolerated = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
    return Api().CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, pChain, &policy, &status)
           && status.dwError == 0 && (pChain->TrustStatus.dwErrorStatus & ~tolerated) == 0
           && NamesCodeSigning(pSigner);
}

// One Authenticode verification as the system makes it (no user interface, no
// revocation check), kept open so that the chain it built, at the signing time a
// valid timestamp vouches for, can be judged too.
class CVerification {
public:
    CVerification(const CVerification&) = delete;
    CVerification& operator=(const CVerification&) = delete;
    CVerification(const std::wstring& path, HANDLE hFile)
    {
        m_file.cbStruct = sizeof m_file;
        m_file.pcwszFilePath = path.c_str();
        m_file.hFile = hFile;
        m_data.cbStruct = sizeof m_data;
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        m_data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
        m_result = Api().WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }
    ~CVerification()
    {
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        Api().WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &m_action, &m_data);
    }

    // What the verification says of the publisher: the signer's certificate (`pSigner`)
    // when the signature verified and its chain is sound: it ends at a trusted root for
    // code signing, with no error besides an unknown revocation status, and the
    // certificate itself names code signing.
    CPackageVerdict::Publisher Signer(PCCERT_CONTEXT& pSigner) const
    {
        pSigner = nullptr;
        // A chain the system refused (CERT_E_..., an explicit distrust), as against a
        // signature that does not hold over the file.
        const DWORD code = static_cast<DWORD>(m_result);
        if ((code >= 0x800B0101 && code <= 0x800B01FF) || m_result == TRUST_E_CERT_SIGNATURE)
            return CPackageVerdict::Untrusted;
        if (m_result != ERROR_SUCCESS)
            return CPackageVerdict::BadSignature;
        CRYPT_PROVIDER_DATA* pProvider = Api().WTHelperProvDataFromStateData(m_data.hWVTStateData);
        const CRYPT_PROVIDER_SGNR* pSgnr =
            pProvider ? Api().WTHelperGetProvSignerFromChain(pProvider, 0, FALSE, 0) : nullptr;
        if (!pSgnr || !pSgnr->pChainContext || pSgnr->csCertChain == 0 || !pSgnr->pasCertChain
            || !pSgnr->pasCertChain[0].pCert)
            return CPackageVerdict::BadSignature;
        pSigner = pSgnr->pasCertChain[0].pCert;
        return SoundChain(pSgnr->pChainContext, pSigner) ? CPackageVerdict::Admitted
                                                         : CPackageVerdict::Untrusted;
    }

private:
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_result;
};

} // namespace

namespace {
// White space around a name, as people type it: a tab or a full-width blank included.
const wchar_t kBlanks[] = L" \t\r\n\v\f\u00a0\u3000";

std::vector<std::wstring> ProductNames(const CVersionResource& resource)
{
    std::vector<std::wstring> names;
    for (std::wstring name : resource.Values(L"ProductName")) {
        const size_t first = name.find_first_not_of(kBlanks);
        if (first != std::wstring::npos)
            names.push_back(name.substr(first, name.find_last_not_of(kBlanks) + 1 - first));
    }
    return names;
}
} // namespace

bool ReadSignerFacts(const std::string& program, CSignerFacts& facts)
{
    facts = CSignerFacts();
    HCERTSTORE hStore = nullptr;
    HCRYPTMSG hMsg = nullptr;
    const std::wstring path = Widen(program, CP_ACP); // as the "A" calls read it
    if (!Api().Loaded()
        || !Api().CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                                   CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY,
                                   0, nullptr, nullptr, nullptr, &hStore, &hMsg, nullptr))
        return false;
    std::vector<BYTE> info = MessageParam(hMsg, CMSG_SIGNER_CERT_INFO_PARAM);
    if (PCCERT_CONTEXT pCert = info.empty() ? nullptr
                                            : Api().CertFindCertificateInStore(
                                                hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                CERT_FIND_SUBJECT_CERT, info.data(), nullptr)) {
        const CERT_NAME_BLOB& name = pCert->pCertInfo->Subject;
        facts.m_subject.assign(name.pbData, name.pbData + name.cbData);
        facts.m_notAfter = pCert->pCertInfo->NotAfter;
        Api().CertFreeCertificateContext(pCert);
    }
    // A timestamp is a countersignature among the signer's unsigned attributes.
    const std::vector<BYTE> attributes = MessageParam(hMsg, CMSG_SIGNER_UNAUTH_ATTR_PARAM);
    if (!attributes.empty()) {
        const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
        for (DWORD i = 0; i < pAttributes->cAttr; ++i)
            facts.m_bTimestamped = facts.m_bTimestamped
                                   || !strcmp(pAttributes->rgAttr[i].pszObjId, szOID_RSA_counterSign)
                                   || !strcmp(pAttributes->rgAttr[i].pszObjId, szOID_RFC3161_counterSign);
    }
    Api().CryptMsgClose(hMsg);
    Api().CertCloseStore(hStore, 0);
    return !facts.m_subject.empty();
}

std::string NameText(const std::vector<BYTE>& name)
{
    CERT_NAME_BLOB blob = {static_cast<DWORD>(name.size()), const_cast<BYTE*>(name.data())};
    char text[512] = "";
    if (!Api().Loaded()
        || Api().CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                                text, sizeof text)
               <= 1)
        return "(unreadable)";
    return text;
}

CPackageTrust::CPackageTrust(const std::string& mainProgram)
{
    const CHandle file(CreateFileA(mainProgram.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const FileRead signature = SignatureTableOf(file);
    m_bSigned = signature != FileRead::None;
    // Unreadable, or signed by nobody that can be read: then no package matches.
    if (signature == FileRead::Found && Api().Loaded()) {
        CSignerFacts signer;
        if (ReadSignerFacts(mainProgram, signer))
            m_subject = signer.m_subject;
        CVersionResource resource;
        if (ReadVersionResource(file, resource) == FileRead::Found) {
            m_products = ProductNames(resource);
            m_nVersion = resource.m_nProductVersion;
            for (const std::wstring& value : resource.Values(L"UpdateInfoSigned"))
                m_bAnswersSigned = m_bAnswersSigned || value == L"1";
        }
        // The main program's word counts where its own signature holds.
        PCCERT_CONTEXT pSigner = nullptr;
        m_bAnswersSigned =
            m_bAnswersSigned
            && CVerification(Widen(mainProgram, CP_ACP), file).Signer(pSigner) == CPackageVerdict::Admitted;
    }
}

CPackageVerdict CPackageTrust::Judge(const std::string& package, CHandle& lock) const
{
    CPackageVerdict verdict;
    if (!m_bSigned) {
        verdict.m_publisher = CPackageVerdict::NotChecked;
        return verdict;
    }
    lock = CHandle(CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock.IsValid() || m_subject.empty())
        return verdict;
    const FileRead signature = SignatureTableOf(lock);
    if (signature != FileRead::Found) {
        verdict.m_publisher =
            signature == FileRead::None ? CPackageVerdict::Unsigned : CPackageVerdict::Unreadable;
        return verdict;
    }
    const CVerification verification(Widen(package, CP_ACP), lock);
    PCCERT_CONTEXT pSigner = nullptr;
    verdict.m_publisher = verification.Signer(pSigner);
    if (pSigner) {
        const CERT_NAME_BLOB& name = pSigner->pCertInfo->Subject;
        verdict.m_subject.assign(name.pbData, name.pbData + name.cbData);
    }
    // The publisher is its certificate's subject: a renewal through another
    // certification authority keeps it.
    if (verdict.m_publisher != CPackageVerdict::Admitted)
        return verdict;
    if (verdict.m_subject != m_subject) {
        verdict.m_publisher = CPackageVerdict::OtherPublisher;
        return verdict;
    }
    if (m_products.empty())
        return verdict;
    // Read through the lock, from the bytes just verified. A package that cannot be told
    // to be this product's is not judged, on purpose, and says why: the publisher's
    // tools carry no version resource or another product's name.
    CVersionResource resource;
    const FileRead found = ReadVersionResource(lock, resource);
    verdict.m_version = CPackageVerdict::NotJudged;
    verdict.m_nProductVersion = resource.m_nProductVersion;
    if (found != FileRead::Found) {
        verdict.m_pszWhy = found == FileRead::None ? "no version resource" : "version resource unreadable";
        return verdict;
    }
    const std::vector<std::wstring> names = ProductNames(resource);
    bool bOurs = false;
    for (const std::wstring& name : names)
        for (const std::wstring& product : m_products)
            bOurs = bOurs || SameText(name, product);
    if (!bOurs) {
        verdict.m_pszWhy = names.empty() ? "names no product" : "names another product";
        return verdict;
    }
    verdict.m_version =
        resource.m_nProductVersion >= m_nVersion ? CPackageVerdict::NotOlder : CPackageVerdict::Older;
    return verdict;
}

namespace {

// Why a detached signature (base64) of `content` is not the publisher's, or null when it
// is. An empty `subject` takes any publisher's.
const char* AnswerSignatureFault(const std::string& base64, const std::string& content,
                                 const std::vector<BYTE>& subject)
{
    DWORD size = 0;
    const DWORD length = static_cast<DWORD>(base64.size());
    std::vector<BYTE> der;
    if (!Api().CryptStringToBinaryA(base64.c_str(), length, CRYPT_STRING_BASE64, nullptr, &size, nullptr,
                                    nullptr)
        || size == 0
        || (der.resize(size), !Api().CryptStringToBinaryA(base64.c_str(), length, CRYPT_STRING_BASE64,
                                                          der.data(), &size, nullptr, nullptr)))
        return "signature not base64";
    const DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    const std::unique_ptr<void, void (*)(HCRYPTMSG)> msg(
        Api().CryptMsgOpenToDecode(encoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr),
        [](HCRYPTMSG h) { Api().CryptMsgClose(h); });
    if (!msg || !Api().CryptMsgUpdate(msg.get(), der.data(), size, TRUE)
        || !Api().CryptMsgUpdate(msg.get(), reinterpret_cast<const BYTE*>(content.data()),
                                 static_cast<DWORD>(content.size()), TRUE))
        return "signature unreadable";
    const std::unique_ptr<void, void (*)(HCERTSTORE)> store(
        Api().CertOpenStore(CERT_STORE_PROV_MSG, encoding, 0, 0, msg.get()),
        [](HCERTSTORE h) { Api().CertCloseStore(h, 0); });
    std::vector<BYTE> info = MessageParam(msg.get(), CMSG_SIGNER_CERT_INFO_PARAM);
    const std::unique_ptr<const CERT_CONTEXT, void (*)(PCCERT_CONTEXT)> cert(
        store && !info.empty() ? Api().CertFindCertificateInStore(
            store.get(), encoding, 0, CERT_FIND_SUBJECT_CERT, info.data(), nullptr)
                               : nullptr,
        [](PCCERT_CONTEXT p) { Api().CertFreeCertificateContext(p); });
    if (!cert || !Api().CryptMsgControl(msg.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, cert->pCertInfo))
        return "signature does not verify";
    // The signature covers the signed attributes; their digest of the content must be the
    // content's. Windows compares them in the verification, Wine does not.
    const std::vector<BYTE> computed = MessageParam(msg.get(), CMSG_COMPUTED_HASH_PARAM);
    const std::vector<BYTE> attributes = MessageParam(msg.get(), CMSG_SIGNER_AUTH_ATTR_PARAM);
    if (!attributes.empty()) {
        const auto* pAttributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(attributes.data());
        bool bSame = false;
        for (DWORD i = 0; i < pAttributes->cAttr; ++i) {
            const CRYPT_ATTRIBUTE& a = pAttributes->rgAttr[i];
            const BYTE* p = a.cValue ? a.rgValue[0].pbData : nullptr; // an encoded OCTET STRING
            if (!strcmp(a.pszObjId, szOID_RSA_messageDigest) && p
                && a.rgValue[0].cbData == computed.size() + 2 && p[0] == 0x04 && p[1] == computed.size()
                && !memcmp(p + 2, computed.data(), computed.size()))
                bSame = true;
        }
        if (!bSame)
            return "signed digest differs from the answer's";
    }
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    PCCERT_CHAIN_CONTEXT pChain = nullptr;
    const bool bSound =
        Api().CertGetCertificateChain(nullptr, cert.get(), nullptr, store.get(), &para, 0, nullptr, &pChain)
        && SoundChain(pChain, cert.get());
    if (pChain)
        Api().CertFreeCertificateChain(pChain);
    if (!bSound)
        return "signer not trusted for code signing";
    const CERT_NAME_BLOB& name = cert->pCertInfo->Subject;
    if (!subject.empty() && std::vector<BYTE>(name.pbData, name.pbData + name.cbData) != subject)
        return "signed by another publisher";
    return nullptr;
}

// `digits` decimal or hexadecimal digits at `at`, or false.
bool ReadDigits(const std::string& text, size_t at, size_t digits, unsigned base, DWORD& value)
{
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        const char c = at + i < text.size() ? text[at + i] : '\0';
        const char* p = strchr("0123456789abcdef", c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
        if (!c || !p || static_cast<unsigned>(p - "0123456789abcdef") >= base)
            return false;
        value = value * base + static_cast<DWORD>(p - "0123456789abcdef");
    }
    return true;
}

// Days since 1601 of a day, or -1.
LONGLONG DayNumber(WORD year, WORD month, WORD day)
{
    SYSTEMTIME time = {};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    FILETIME file;
    if (!SystemTimeToFileTime(&time, &file))
        return -1;
    return static_cast<LONGLONG>((static_cast<ULONGLONG>(file.dwHighDateTime) << 32 | file.dwLowDateTime)
                                 / 864000000000ULL);
}

} // namespace

CAnswerVerdict CPackageTrust::JudgeAnswer(const std::string& path, DWORD query, const SYSTEMTIME& today) const
{
    CAnswerVerdict verdict;
    std::string bytes;
    {
        const CHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        char buffer[4096];
        for (DWORD n = 0; ReadFile(file, buffer, sizeof buffer, &n, nullptr) && n;)
            bytes.append(buffer, n);
    }
    const size_t lineEnd = bytes.find('\n');
    const std::string kSignature = "signature: ";
    if (bytes.compare(0, kSignature.size(), kSignature) != 0 || lineEnd == std::string::npos) {
        verdict.m_kind = m_bAnswersSigned ? CAnswerVerdict::Refused : CAnswerVerdict::Unsigned;
        verdict.m_pszWhy = m_bAnswersSigned ? "not signed, and the installation requires it" : "";
        return verdict;
    }
    const std::string content = bytes.substr(lineEnd + 1);
    std::string range = content.substr(0, content.find('\n'));
    if (!range.empty() && range.back() == '\r')
        range.pop_back();
    DWORD from = 0, to = 0, year = 0, month = 0, day = 0;
    if (m_bSigned && m_subject.empty())
        verdict.m_pszWhy = "the installation's publisher cannot be read";
    else if (const char* fault = AnswerSignatureFault(
                 bytes.substr(kSignature.size(), lineEnd - kSignature.size()), content, m_subject))
        verdict.m_pszWhy = fault;
    else if (range.compare(0, 6, "for v=") != 0 || !ReadDigits(range, 6, 8, 16, from) || range[14] != '-'
             || !ReadDigits(range, 15, 8, 16, to)
             || (range.size() != 23
                 && (range.size() != 40 || range.compare(23, 7, " until ") != 0
                     || !ReadDigits(range, 30, 4, 10, year) || range[34] != '-'
                     || !ReadDigits(range, 35, 2, 10, month) || range[37] != '-'
                     || !ReadDigits(range, 38, 2, 10, day)
                     || DayNumber(WORD(year), WORD(month), WORD(day)) < 0)))
        verdict.m_pszWhy = "no line saying what it is for";
    else if (query < from || query > to)
        verdict.m_pszWhy = "for other versions";
    else if (range.size() == 40
             && DayNumber(today.wYear, today.wMonth, today.wDay)
                    > DayNumber(WORD(year), WORD(month), WORD(day)) + 1)
        verdict.m_pszWhy = "past its last day";
    else
        verdict.m_kind = CAnswerVerdict::Signed;
    return verdict;
}
