#include "engine/PackageTrust.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <type_traits>

#include "engine/SystemLibrary.h"
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
        m_bLoaded = WinVerifyTrust && WTHelperProvDataFromStateData && WTHelperGetProvSignerFromChain
                    && CryptQueryObject && CryptMsgGetParam && CryptMsgClose && CertFindCertificateInStore
                    && CertFreeCertificateContext && CertCloseStore && CertGetEnhancedKeyUsage
                    && CertVerifyCertificateChainPolicy;
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

private:
    bool m_bLoaded;
};

const CTrustApi& Api()
{
    static const CTrustApi api; // the worker's thread is the only one that checks
    return api;
}

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &read, nullptr)
           && read == size;
}

enum class Signature {
    None,
    Present,
    Unreadable
};

// Whether a program carries a signature, by the certificate table of its header alone:
// what a verification says of a damaged or unreadable file must not make it unsigned.
Signature SignatureOf(const std::string& path)
{
    const CHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    IMAGE_DOS_HEADER dos = {};
    DWORD ntSignature = 0;
    IMAGE_FILE_HEADER header = {};
    WORD magic = 0;
    if (!file.IsValid() || !ReadAt(file, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE
        || !ReadAt(file, dos.e_lfanew, &ntSignature, sizeof ntSignature) || ntSignature != IMAGE_NT_SIGNATURE
        || !ReadAt(file, dos.e_lfanew + 4, &header, sizeof header)
        || !ReadAt(file, dos.e_lfanew + 4 + sizeof header, &magic, sizeof magic))
        return Signature::Unreadable;
    const LONGLONG optional = dos.e_lfanew + 4 + sizeof header;
    DWORD count = 0;
    IMAGE_DATA_DIRECTORY table = {};
    // The number of directories and the certificate table, in a header of either width.
    const auto readTable = [&](auto* pKind) {
        using Header = std::remove_pointer_t<decltype(pKind)>;
        return ReadAt(file, optional + offsetof(Header, NumberOfRvaAndSizes), &count, sizeof count)
               && ReadAt(file,
                         optional + offsetof(Header, DataDirectory)
                             + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY),
                         &table, sizeof table);
    };
    const bool bRead = magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC
                           ? readTable(static_cast<IMAGE_OPTIONAL_HEADER32*>(nullptr))
                           : magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                 && readTable(static_cast<IMAGE_OPTIONAL_HEADER64*>(nullptr));
    if (!bRead)
        return Signature::Unreadable;
    return count > IMAGE_DIRECTORY_ENTRY_SECURITY && (table.VirtualAddress || table.Size) ? Signature::Present
                                                                                          : Signature::None;
}

// The subject of the signer certificate of a file's embedded signature, encoded;
// empty when there is none or it cannot be read.
std::vector<BYTE> SignerSubject(const std::wstring& path)
{
    HCERTSTORE hStore = nullptr;
    HCRYPTMSG hMsg = nullptr;
    std::vector<BYTE> subject;
    if (!Api().CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                                CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                                nullptr, nullptr, nullptr, &hStore, &hMsg, nullptr))
        return subject;
    DWORD size = 0;
    if (Api().CryptMsgGetParam(hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size != 0) {
        std::vector<BYTE> info(size);
        if (Api().CryptMsgGetParam(hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size)) {
            if (PCCERT_CONTEXT pCert =
                    Api().CertFindCertificateInStore(hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_SUBJECT_CERT, info.data(), nullptr)) {
                const CERT_NAME_BLOB& name = pCert->pCertInfo->Subject;
                subject.assign(name.pbData, name.pbData + name.cbData);
                Api().CertFreeCertificateContext(pCert);
            }
        }
    }
    Api().CryptMsgClose(hMsg);
    Api().CertCloseStore(hStore, 0);
    return subject;
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

    // The signer's certificate when the signature verified and its chain is sound: it
    // ends at a trusted root for code signing, with no error besides an unknown
    // revocation status, and the certificate itself names code signing.
    PCCERT_CONTEXT SoundSigner() const
    {
        CRYPT_PROVIDER_DATA* pProvider =
            m_result == ERROR_SUCCESS ? Api().WTHelperProvDataFromStateData(m_data.hWVTStateData) : nullptr;
        const CRYPT_PROVIDER_SGNR* pSigner =
            pProvider ? Api().WTHelperGetProvSignerFromChain(pProvider, 0, FALSE, 0) : nullptr;
        if (!pSigner || !pSigner->pChainContext || pSigner->csCertChain == 0 || !pSigner->pasCertChain)
            return nullptr;
        const PCCERT_CHAIN_CONTEXT pChain = pSigner->pChainContext;
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof policy;
        CERT_CHAIN_POLICY_STATUS status = {};
        status.cbSize = sizeof status;
        const DWORD tolerated = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
        const PCCERT_CONTEXT pCert = pSigner->pasCertChain[0].pCert;
        const bool bSound =
            Api().CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, pChain, &policy, &status)
            && status.dwError == 0 && (pChain->TrustStatus.dwErrorStatus & ~tolerated) == 0;
        return bSound && pCert && NamesCodeSigning(pCert) ? pCert : nullptr;
    }

private:
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    LONG m_result;
};

} // namespace

CPackageTrust::CPackageTrust(const std::string& mainProgram)
{
    const Signature signature = SignatureOf(mainProgram);
    m_bSigned = signature != Signature::None;
    // Unreadable, or signed by nobody that can be read: then no package matches.
    if (signature == Signature::Present && Api().Loaded())
        m_subject = SignerSubject(Widen(mainProgram, CP_ACP)); // as the "A" calls read it
}

bool CPackageTrust::Admit(const std::string& package, CHandle& lock) const
{
    if (!m_bSigned)
        return true;
    lock = CHandle(CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock.IsValid() || m_subject.empty())
        return false;
    const CVerification verification(Widen(package, CP_ACP), lock);
    const PCCERT_CONTEXT pSigner = verification.SoundSigner();
    if (!pSigner)
        return false;
    // The publisher is its certificate's subject: a renewal through another
    // certification authority keeps it.
    const CERT_NAME_BLOB& name = pSigner->pCertInfo->Subject;
    return std::vector<BYTE>(name.pbData, name.pbData + name.cbData) == m_subject;
}
