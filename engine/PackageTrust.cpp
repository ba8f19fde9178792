#include "engine/PackageTrust.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "framework/SystemLibrary.h"
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

// A program's headers as read through its handle: the file header, and where the
// optional header (of either width) and the section table lie.
struct CImageHeaders {
    IMAGE_FILE_HEADER file = {};
    LONGLONG optional = 0;
    WORD magic = 0;

    bool Read(HANDLE h)
    {
        IMAGE_DOS_HEADER dos = {};
        DWORD ntSignature = 0;
        if (!ReadAt(h, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE
            || !ReadAt(h, dos.e_lfanew, &ntSignature, sizeof ntSignature) || ntSignature != IMAGE_NT_SIGNATURE
            || !ReadAt(h, dos.e_lfanew + 4, &file, sizeof file))
            return false;
        optional = dos.e_lfanew + 4 + sizeof file;
        return ReadAt(h, optional, &magic, sizeof magic);
    }
    LONGLONG Sections() const { return optional + file.SizeOfOptionalHeader; }
    // Data directory `index`, all zero when the header has fewer.
    bool Directory(HANDLE h, DWORD index, IMAGE_DATA_DIRECTORY& entry) const
    {
        DWORD count = 0;
        entry = {};
        const auto read = [&](auto* pKind) {
            using Header = std::remove_pointer_t<decltype(pKind)>;
            return ReadAt(h, optional + offsetof(Header, NumberOfRvaAndSizes), &count, sizeof count)
                   && (count <= index
                       || ReadAt(h, optional + offsetof(Header, DataDirectory) + index * sizeof entry, &entry,
                                 sizeof entry));
        };
        return magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC   ? read(static_cast<IMAGE_OPTIONAL_HEADER32*>(nullptr))
               : magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC ? read(static_cast<IMAGE_OPTIONAL_HEADER64*>(nullptr))
                                                        : false;
    }
};

enum class Signature {
    None,
    Present,
    Unreadable
};

// Whether a program carries a signature, by the certificate table of its header alone:
// what a verification says of a damaged or unreadable file must not make it unsigned.
Signature SignatureOf(HANDLE file)
{
    CImageHeaders image;
    IMAGE_DATA_DIRECTORY table = {};
    if (!image.Read(file) || !image.Directory(file, IMAGE_DIRECTORY_ENTRY_SECURITY, table))
        return Signature::Unreadable;
    return table.VirtualAddress || table.Size ? Signature::Present : Signature::None;
}

// A program's version resource (the first one), read through `file` from its sections'
// raw data alone: bytes a signature covers, not a copy elsewhere (a language file
// beside it). Empty when there is none.
std::vector<BYTE> VersionResource(HANDLE file)
{
    CImageHeaders image;
    IMAGE_DATA_DIRECTORY table = {};
    if (!image.Read(file) || !image.Directory(file, IMAGE_DIRECTORY_ENTRY_RESOURCE, table) || !table.Size)
        return {};
    // `size` bytes at an address, all within one section's raw data.
    const auto read = [&](DWORD address, void* buffer, DWORD size) {
        IMAGE_SECTION_HEADER s;
        for (WORD i = 0;
             i < image.file.NumberOfSections && ReadAt(file, image.Sections() + i * sizeof s, &s, sizeof s);
             ++i) {
            const DWORD into = address - s.VirtualAddress;
            if (address >= s.VirtualAddress && into <= s.SizeOfRawData && size <= s.SizeOfRawData - into)
                return ReadAt(file, s.PointerToRawData + static_cast<LONGLONG>(into), buffer, size);
        }
        return false;
    };
    const DWORD kDirectory = sizeof(IMAGE_RESOURCE_DIRECTORY),
                kEntry = sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
    // Type, name, language: the version type, then the first entry of each level.
    DWORD at = 0; // from the resource directory's start
    for (int level = 0; level < 3; ++level) {
        IMAGE_RESOURCE_DIRECTORY dir;
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry = {};
        if (!read(table.VirtualAddress + at, &dir, kDirectory))
            return {};
        const DWORD count = dir.NumberOfNamedEntries + dir.NumberOfIdEntries;
        DWORD i = 0;
        for (; i < count; ++i) {
            if (!read(table.VirtualAddress + at + kDirectory + i * kEntry, &entry, kEntry))
                return {};
            if (level > 0 || (!entry.NameIsString && entry.Id == reinterpret_cast<ULONG_PTR>(RT_VERSION)))
                break;
        }
        if (i == count || (entry.DataIsDirectory != 0) != (level < 2))
            return {};
        at = entry.OffsetToData & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY;
    }
    IMAGE_RESOURCE_DATA_ENTRY data;
    std::vector<BYTE> bytes;
    if (read(table.VirtualAddress + at, &data, sizeof data) && data.Size <= 0xFFFF) { // its length is a WORD
        bytes.resize(data.Size);
        if (!read(data.OffsetToData, bytes.data(), data.Size))
            bytes.clear();
    }
    return bytes;
}

// Compared as the system finds a version resource's keys: ordinal, any case.
bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE)
           == CSTR_EQUAL;
}

// One block of a version resource: its key, and where its value and children begin.
struct CVersionBlock {
    std::wstring key;
    size_t value = 0, valueSize = 0, children = 0, end = 0;
};

size_t Align4(size_t n)
{
    return (n + 3) & ~size_t(3);
}

// The text at `at`, up to its terminating null or `end`.
std::wstring TextAt(const std::vector<BYTE>& bytes, size_t at, size_t end)
{
    std::wstring text;
    for (WCHAR c; at + sizeof c <= end && (memcpy(&c, &bytes[at], sizeof c), c != 0); at += sizeof c)
        text += c;
    return text;
}

// The block at `at`, which must end by `end`.
bool ReadBlock(const std::vector<BYTE>& bytes, size_t at, size_t end, CVersionBlock& block)
{
    WORD header[3]; // length, value length, type (1: text, its value length in characters)
    if (at > end || end - at < sizeof header)
        return false;
    memcpy(header, &bytes[at], sizeof header);
    if (header[0] < sizeof header || header[0] > end - at)
        return false;
    block.end = at + header[0];
    block.key = TextAt(bytes, at + sizeof header, block.end);
    block.value = Align4(at + sizeof header + 2 * (block.key.size() + 1));
    // Some tools count a text's length in bytes: a value never reaches past its block.
    const size_t size = header[2] == 1 ? header[1] * 2u : header[1];
    block.valueSize = block.value < block.end ? std::min(size, block.end - block.value) : 0;
    block.children = Align4(block.value + size);
    return true;
}

bool FindChild(const std::vector<BYTE>& bytes, const CVersionBlock& parent, const std::wstring& key,
               CVersionBlock& child)
{
    for (size_t at = parent.children; ReadBlock(bytes, at, parent.end, child); at = Align4(child.end))
        if (SameText(child.key, key))
            return true;
    return false;
}

// A program's product version and name from its version resource, read through
// `file`; the name from the string table of the first translation listed, without
// trailing blanks. False when it carries no fixed version information.
bool ReadProduct(HANDLE file, std::wstring& name, ULONGLONG& version)
{
    const std::vector<BYTE> bytes = VersionResource(file);
    CVersionBlock root, info, block, table;
    VS_FIXEDFILEINFO fixed;
    if (!ReadBlock(bytes, 0, bytes.size(), root) || root.valueSize < sizeof fixed)
        return false;
    memcpy(&fixed, &bytes[root.value], sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return false;
    version = static_cast<ULONGLONG>(fixed.dwProductVersionMS) << 32 | fixed.dwProductVersionLS;
    name.clear();
    DWORD translation = 0; // language, then code page
    if (FindChild(bytes, root, L"VarFileInfo", info) && FindChild(bytes, info, L"Translation", block)
        && block.valueSize >= sizeof translation) {
        memcpy(&translation, &bytes[block.value], sizeof translation);
        std::wstring key; // its string table's, as "080404b0"
        for (const DWORD n = static_cast<DWORD>(LOWORD(translation)) << 16 | HIWORD(translation);
             key.size() < 8;)
            key += L"0123456789abcdef"[n >> (28 - 4 * key.size()) & 15];
        if (FindChild(bytes, root, L"StringFileInfo", info) && FindChild(bytes, info, key, table)
            && FindChild(bytes, table, L"ProductName", block))
            name = TextAt(bytes, block.value, block.end);
    }
    while (!name.empty() && name.back() == L' ')
        name.pop_back();
    return true;
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
    const CHandle file(CreateFileA(mainProgram.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const Signature signature = SignatureOf(file);
    m_bSigned = signature != Signature::None;
    // Unreadable, or signed by nobody that can be read: then no package matches.
    if (signature == Signature::Present && Api().Loaded()) {
        m_subject = SignerSubject(Widen(mainProgram, CP_ACP)); // as the "A" calls read it
        ReadProduct(file, m_strProduct, m_nVersion);
    }
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
    if (std::vector<BYTE>(name.pbData, name.pbData + name.cbData) != m_subject)
        return false;
    // Read through the lock, from the bytes just verified. A package without a version
    // resource, or naming another product, is a tool of the publisher's: not judged.
    std::wstring product;
    ULONGLONG version = 0;
    return m_strProduct.empty() || !ReadProduct(lock, product, version) || !SameText(product, m_strProduct)
           || version >= m_nVersion;
}
