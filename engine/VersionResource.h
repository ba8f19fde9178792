// Reads a program file's header and version resource through its handle, from the
// bytes of the file itself: those a signature covers, not a copy elsewhere (a language
// file beside it). The updater and the release tool read programs through this one
// reader, so they cannot read a file differently. Any thread; holds nothing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

enum class FileRead {
    Found,
    None,      // the program has none
    Unreadable // no program, or a damaged one
};

// Whether a program carries a signature, by the certificate table of its header alone:
// what a verification says of a damaged file must not make it unsigned.
FileRead SignatureTableOf(HANDLE file);

struct CVersionResource {
    struct CString {
        std::wstring m_strTable, m_strKey, m_strValue; // table as "080404b0"
    };
    ULONGLONG m_nProductVersion = 0; // the four parts, the first highest
    std::vector<CString> m_strings;  // every string table's, in file order

    // The values of `key` (any case) in every string table.
    std::vector<std::wstring> Values(const wchar_t* key) const;
};

// The first version resource, with its fixed version information and its strings.
// Unreadable when its blocks are damaged or the fixed information is missing.
FileRead ReadVersionResource(HANDLE file, CVersionResource& resource);

// Compared as the system finds a version resource's keys: ordinal, any case.
bool SameText(const std::wstring& a, const std::wstring& b);

// "a.b.c.d" for four parts packed first-highest.
std::string VersionText(ULONGLONG version);
