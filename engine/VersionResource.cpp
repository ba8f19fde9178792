#include "engine/VersionResource.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "framework/UserText.h"

namespace {

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && ReadFile(file, buffer, size, &read, nullptr)
           && read == size;
}

// A program's headers as read through its handle: the file header, where the optional
// header (of either width) lies, and the section table, read once.
struct CImageHeaders {
    IMAGE_FILE_HEADER file = {};
    LONGLONG optional = 0;
    WORD magic = 0;
    std::vector<IMAGE_SECTION_HEADER> sections;

    bool Read(HANDLE h)
    {
        IMAGE_DOS_HEADER dos = {};
        DWORD ntSignature = 0;
        if (!ReadAt(h, 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE
            || !ReadAt(h, dos.e_lfanew, &ntSignature, sizeof ntSignature) || ntSignature != IMAGE_NT_SIGNATURE
            || !ReadAt(h, dos.e_lfanew + 4, &file, sizeof file))
            return false;
        optional = dos.e_lfanew + 4 + sizeof file;
        sections.resize(file.NumberOfSections);
        return ReadAt(h, optional, &magic, sizeof magic)
               && (sections.empty()
                   || ReadAt(h, optional + file.SizeOfOptionalHeader, sections.data(),
                             static_cast<DWORD>(sections.size() * sizeof sections[0])));
    }
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
    // `size` bytes at an address, all within one section's raw data.
    bool ReadAddress(HANDLE h, DWORD address, void* buffer, DWORD size) const
    {
        for (const IMAGE_SECTION_HEADER& s : sections) {
            const DWORD into = address - s.VirtualAddress;
            if (address >= s.VirtualAddress && into <= s.SizeOfRawData && size <= s.SizeOfRawData - into)
                return ReadAt(h, s.PointerToRawData + static_cast<LONGLONG>(into), buffer, size);
        }
        return false;
    }
};

// The bytes of a program's first version resource.
FileRead VersionBytes(HANDLE file, std::vector<BYTE>& bytes)
{
    CImageHeaders image;
    IMAGE_DATA_DIRECTORY table = {};
    if (!image.Read(file) || !image.Directory(file, IMAGE_DIRECTORY_ENTRY_RESOURCE, table))
        return FileRead::Unreadable;
    if (!table.Size)
        return FileRead::None;
    const DWORD kDirectory = sizeof(IMAGE_RESOURCE_DIRECTORY),
                kEntry = sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY);
    // Type, name, language: the version type, then the first entry of each level.
    DWORD at = 0; // from the resource directory's start
    for (int level = 0; level < 3; ++level) {
        IMAGE_RESOURCE_DIRECTORY dir;
        IMAGE_RESOURCE_DIRECTORY_ENTRY entry = {};
        if (!image.ReadAddress(file, table.VirtualAddress + at, &dir, kDirectory))
            return FileRead::Unreadable;
        const DWORD count = dir.NumberOfNamedEntries + dir.NumberOfIdEntries;
        DWORD i = 0;
        for (; i < count; ++i) {
            if (!image.ReadAddress(file, table.VirtualAddress + at + kDirectory + i * kEntry, &entry, kEntry))
                return FileRead::Unreadable;
            if (level > 0 || (!entry.NameIsString && entry.Id == reinterpret_cast<ULONG_PTR>(RT_VERSION)))
                break;
        }
        if (i == count)
            return level == 0 ? FileRead::None : FileRead::Unreadable;
        if ((entry.DataIsDirectory != 0) != (level < 2))
            return FileRead::Unreadable;
        at = entry.OffsetToData & ~IMAGE_RESOURCE_DATA_IS_DIRECTORY;
    }
    IMAGE_RESOURCE_DATA_ENTRY data;
    if (!image.ReadAddress(file, table.VirtualAddress + at, &data, sizeof data) || data.Size > 0xFFFF)
        return FileRead::Unreadable; // a version resource's length is a WORD
    bytes.resize(data.Size);
    return image.ReadAddress(file, data.OffsetToData, bytes.data(), data.Size) ? FileRead::Found
                                                                               : FileRead::Unreadable;
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

// Calls `each` for every child block of `parent`.
template<typename F> void ForEachChild(const std::vector<BYTE>& bytes, const CVersionBlock& parent, F each)
{
    CVersionBlock child;
    for (size_t at = parent.children; ReadBlock(bytes, at, parent.end, child); at = Align4(child.end))
        each(child);
}

} // namespace

bool SameText(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE)
           == CSTR_EQUAL;
}

std::string VersionText(ULONGLONG version)
{
    std::string text;
    for (int shift = 48; shift >= 0; shift -= 16)
        text += NumberText(version >> shift & 0xFFFF) + (shift ? "." : "");
    return text;
}

FileRead SignatureTableOf(HANDLE file)
{
    CImageHeaders image;
    IMAGE_DATA_DIRECTORY table = {};
    if (!image.Read(file) || !image.Directory(file, IMAGE_DIRECTORY_ENTRY_SECURITY, table))
        return FileRead::Unreadable;
    return table.VirtualAddress || table.Size ? FileRead::Found : FileRead::None;
}

std::vector<std::wstring> CVersionResource::Values(const wchar_t* key) const
{
    std::vector<std::wstring> values;
    for (const CString& s : m_strings)
        if (SameText(s.m_strKey, key))
            values.push_back(s.m_strValue);
    return values;
}

FileRead ReadVersionResource(HANDLE file, CVersionResource& resource)
{
    resource = CVersionResource();
    std::vector<BYTE> bytes;
    const FileRead found = VersionBytes(file, bytes);
    if (found != FileRead::Found)
        return found;
    CVersionBlock root;
    VS_FIXEDFILEINFO fixed;
    if (!ReadBlock(bytes, 0, bytes.size(), root) || root.valueSize < sizeof fixed)
        return FileRead::Unreadable;
    memcpy(&fixed, &bytes[root.value], sizeof fixed);
    if (fixed.dwSignature != VS_FFI_SIGNATURE)
        return FileRead::Unreadable;
    resource.m_nProductVersion =
        static_cast<ULONGLONG>(fixed.dwProductVersionMS) << 32 | fixed.dwProductVersionLS;
    // Every table, whichever the translations list: a name in any of them is the file's.
    ForEachChild(bytes, root, [&](const CVersionBlock& info) {
        if (SameText(info.key, L"StringFileInfo"))
            ForEachChild(bytes, info, [&](const CVersionBlock& table) {
                ForEachChild(bytes, table, [&](const CVersionBlock& s) {
                    resource.m_strings.push_back({table.key, s.key, TextAt(bytes, s.value, s.end)});
                });
            });
    });
    return FileRead::Found;
}
