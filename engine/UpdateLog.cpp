#include "engine/UpdateLog.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "engine/Handle.h"
#include "engine/StatusMessages.h"
#include "framework/UserText.h"

namespace {

const LONGLONG kRotateAt = 1024 * 1024; // two files of about this size at most
const LONGLONG kStopAt = 2 * kRotateAt; // where one could not be rotated
const DWORD kRotationTurnMs = 2000;     // another start's rotation: a rename

std::mutex g_lock; // the path, set once at start-up, read by both threads
std::string g_path;
CHandle g_folder; // held without delete sharing: the folder cannot be swapped for a link

bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A URL's user name and password, and its query's values but the version query's, stay
// out of the log: a query may carry a token. Each ';'-separated part is read on its own
// (a proxy may be named per scheme), its authority after "://" or '=' when it has one.
std::wstring Sanitised(const std::wstring& url)
{
    std::wstring out;
    for (size_t part = 0; part <= url.size();) {
        const size_t end = std::min(url.find(L';', part), url.size());
        std::wstring text = url.substr(part, end - part);
        const size_t scheme = text.find(L"://");
        const size_t hostStart = scheme != std::wstring::npos ? scheme + 3 : text.find(L'=') + 1;
        const size_t hostEnd = std::min(text.find_first_of(L"/?#", hostStart), text.size());
        const size_t at = hostEnd > hostStart ? text.rfind(L'@', hostEnd - 1) : std::wstring::npos;
        if (at != std::wstring::npos && at >= hostStart)
            text.erase(hostStart, at + 1 - hostStart);
        const size_t query = text.find(L'?');
        if (query != std::wstring::npos) {
            std::wstring masked = text.substr(0, query);
            const size_t fragment = std::min(text.find(L'#', query), text.size());
            for (size_t p = query; p < fragment;) {
                const size_t next = std::min(text.find_first_of(L"&?", p + 1), fragment);
                const std::wstring param = text.substr(p, next - p); // with its separator
                const size_t eq = param.find(L'=');
                masked += eq == std::wstring::npos || param.compare(1, eq - 1, L"v") == 0
                              ? param
                              : param.substr(0, eq) + L"=*";
                p = next;
            }
            text = masked + (fragment < text.size() ? L"#*" : L"");
        }
        out += (part ? L";" : L"") + text;
        part = end + 1;
    }
    return out;
}

// The fact's text as the log holds it: UTF-8, on one line, quoted where it must be.
std::string Formatted(const CLogFact& fact)
{
    std::wstring text = fact.m_kind == CLogFact::NUMBER
                            ? Widen(NumberText(fact.m_nNumber), CP_ACP)
                            : Widen(fact.m_pszText, fact.m_kind == CLogFact::USER_TEXT ? 936 : CP_ACP);
    if (fact.m_kind == CLogFact::URL)
        text = Sanitised(text);
    for (wchar_t& c : text)
        if (c == L'\r' || c == L'\n')
            c = L' '; // one event, one line
    if (text.find_first_of(L" \"") != std::wstring::npos) {
        std::wstring quoted = L"\"";
        for (const wchar_t c : text) {
            if (c == L'"' || c == L'\\')
                quoted += L'\\'; // a value cannot end its quotes and forge facts after them
            quoted += c;
        }
        text = quoted + L"\"";
    }
    std::string utf8;
    Narrow(text, CP_UTF8, utf8); // UTF-8 holds every character
    return utf8;
}

} // namespace

void OpenUpdateLog(const std::string& path)
{
    {
        const std::lock_guard<std::mutex> lock(g_lock);
        g_path.clear();
        g_folder.Close();
    }
    if (path.empty())
        return;
    const std::string folder = path.substr(0, path.rfind('\\'));
    CHandle held(CreateFileA(folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!held.IsValid() || !GetFileInformationByHandle(held, &info) || IsLink(info.dwFileAttributes)
        || IsLink(GetFileAttributesA(folder.substr(0, folder.rfind('\\')).c_str())))
        return;
    {
        // Every updater of this user rotates under one lock: two starts at once would
        // both rotate, the second putting a line in place of the kept log.
        const CHandle turn(CreateMutexA(nullptr, FALSE, "Local\\Module_Client_Updater.log"));
        const DWORD wait = turn.IsValid() ? WaitForSingleObject(turn, kRotationTurnMs) : WAIT_FAILED;
        WIN32_FILE_ATTRIBUTE_DATA data;
        if ((wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            && GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)
            && !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            && (static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) > kRotateAt)
            MoveFileExA(path.c_str(), (path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
        if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED)
            ReleaseMutex(turn);
    }
    const std::lock_guard<std::mutex> lock(g_lock);
    g_folder = std::move(held);
    g_path = path;
}

void LogEvent(const char* event, std::initializer_list<CLogFact> facts)
{
    std::string path;
    {
        const std::lock_guard<std::mutex> lock(g_lock);
        path = g_path;
    }
    if (path.empty())
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::string line = NumberText(now.wYear, 4) + "-" + NumberText(now.wMonth, 2) + "-"
                       + NumberText(now.wDay, 2) + " " + NumberText(now.wHour, 2) + ":"
                       + NumberText(now.wMinute, 2) + ":" + NumberText(now.wSecond, 2) + " "
                       + NumberText(GetCurrentProcessId()) + " " + event;
    for (const CLogFact& fact : facts)
        line += std::string(" ") + fact.m_pszName + "=" + Formatted(fact);
    line += "\r\n";
    // Appending with sharing, one write a line: the installed program and its copy may
    // both write at once without tearing each other's lines.
    const CHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                   nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    DWORD written = 0;
    if (file.IsValid() && GetFileInformationByHandle(file, &info) && !IsLink(info.dwFileAttributes)
        && info.nNumberOfLinks == 1
        && (static_cast<LONGLONG>(info.nFileSizeHigh) << 32 | info.nFileSizeLow) < kStopAt)
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void LogStatus(unsigned message, std::uintptr_t phase, std::intptr_t result)
{
    const char* name = message == UM_INFO_STATE      ? "update info"
                       : message == UM_PACKAGE_STATE ? "packages"
                       : message == UM_UPDATE_ERROR  ? "update failed"
                       : message == UM_UPDATE_RESULT ? "update over"
                                                     : "transfer";
    LogEvent(
        "status",
        {{"of", name}, {"phase", static_cast<long long>(phase)}, {"result", static_cast<long long>(result)}});
}
