#include "engine/PackageTrust.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>

#include "framework/UserText.h"

namespace {

// Authenticode verification as the system makes it: no user interface, no revocation
// check. `hFile` may be null, and is otherwise the file at `path` already opened.
LONG VerifyTrust(const std::wstring& path, HANDLE hFile)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();
    file.hFile = hFile;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE;
    return WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
}

// The signer certificate of a file's embedded signature, with the certificates that
// came with it.
class CSigner {
public:
    CSigner(const CSigner&) = delete;
    CSigner& operator=(const CSigner&) = delete;
    explicit CSigner(const std::wstring& path)
    {
        if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                              CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                              nullptr, nullptr, nullptr, &m_hStore, &m_hMsg, nullptr))
            return;
        DWORD size = 0;
        if (!CryptMsgGetParam(m_hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) || size == 0)
            return;
        std::vector<BYTE> info(size);
        if (CryptMsgGetParam(m_hMsg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &size))
            m_pCert = CertFindCertificateInStore(m_hStore, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                 CERT_FIND_SUBJECT_CERT, info.data(), nullptr);
    }
    ~CSigner()
    {
        if (m_pCert)
            CertFreeCertificateContext(m_pCert);
        if (m_hMsg)
            CryptMsgClose(m_hMsg);
        if (m_hStore)
            CertCloseStore(m_hStore, 0);
    }
    PCCERT_CONTEXT Cert() const { return m_pCert; }

    // Some platforms verify a signature without looking far into its chain: the chain
    // must end at a trusted root for code signing, with no error besides an unknown
    // revocation status, and the certificate itself must name code signing.
    bool ChainIsSound() const
    {
        LPSTR codeSigning[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
        CERT_CHAIN_PARA para = {};
        para.cbSize = sizeof para;
        para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
        para.RequestedUsage.Usage.cUsageIdentifier = 1;
        para.RequestedUsage.Usage.rgpszUsageIdentifier = codeSigning;
        PCCERT_CHAIN_CONTEXT pChain = nullptr;
        if (!CertGetCertificateChain(nullptr, m_pCert, nullptr, m_hStore, &para, 0, nullptr, &pChain))
            return false;
        CERT_CHAIN_POLICY_PARA policy = {};
        policy.cbSize = sizeof policy;
        CERT_CHAIN_POLICY_STATUS status = {};
        status.cbSize = sizeof status;
        const DWORD tolerated = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;
        const bool bSound =
            CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, pChain, &policy, &status)
            && status.dwError == 0 && (pChain->TrustStatus.dwErrorStatus & ~tolerated) == 0;
        CertFreeCertificateChain(pChain);
        return bSound && NamesCodeSigning();
    }

private:
    bool NamesCodeSigning() const
    {
        DWORD size = 0;
        if (!CertGetEnhancedKeyUsage(m_pCert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size)
            || size == 0)
            return false;
        std::vector<BYTE> buffer(size);
        auto* pUsage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
        if (!CertGetEnhancedKeyUsage(m_pCert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, pUsage, &size))
            return false;
        for (DWORD i = 0; i < pUsage->cUsageIdentifier; ++i)
            if (strcmp(pUsage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0)
                return true;
        return false;
    }

    HCERTSTORE m_hStore = nullptr;
    HCRYPTMSG m_hMsg = nullptr;
    PCCERT_CONTEXT m_pCert = nullptr;
};

std::vector<BYTE> Bytes(const CERT_NAME_BLOB& name)
{
    return std::vector<BYTE>(name.pbData, name.pbData + name.cbData);
}

} // namespace

CPackageTrust::CPackageTrust(const std::string& mainProgram)
{
    // Without a main program there is no publisher to keep to.
    if (GetFileAttributesA(mainProgram.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    const std::wstring path = Widen(mainProgram, CP_ACP); // as the "A" calls read it
    m_bSigned = VerifyTrust(path, nullptr) != TRUST_E_NOSIGNATURE;
    const CSigner signer(path);
    // A signature whose signer cannot be read names nobody: then no package matches.
    if (m_bSigned && signer.Cert()) {
        m_subject = Bytes(signer.Cert()->pCertInfo->Subject);
        m_issuer = Bytes(signer.Cert()->pCertInfo->Issuer);
    }
}

bool CPackageTrust::Admit(const std::string& package, CHandle& lock) const
{
    if (!m_bSigned)
        return true;
    lock = CHandle(CreateFileA(package.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock.IsValid())
        return false;
    const std::wstring path = Widen(package, CP_ACP);
    if (VerifyTrust(path, lock) != ERROR_SUCCESS)
        return false;
    const CSigner signer(path);
    return signer.Cert() && !m_subject.empty() && Bytes(signer.Cert()->pCertInfo->Subject) == m_subject
           && Bytes(signer.Cert()->pCertInfo->Issuer) == m_issuer && signer.ChainIsSound();
}
