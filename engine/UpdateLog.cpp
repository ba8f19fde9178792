#include "engine/UpdateLog.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "engine/Handle.h"
#include "engine/StatusMessages.h"

namespace {

const LONGLONG kRotateAt = 1024 * 1024; // two files of about this size at most

std::mutex g_lock; // the path, set once at start-up, read by both threads
std::string g_path;

// A URL's user name and password stay out of the log.
std::string WithoutCredentials(const std::string& text)
{
    const size_t scheme = text.find("://");
    if (scheme == std::string::npos)
        return text;
    const size_t hostStart = scheme + 3;
    const size_t at = text.find('@', hostStart);
    if (at == std::string::npos || at > text.find_first_of("/?#", hostStart))
        return text;
    return text.substr(0, hostStart) + text.substr(at + 1);
}

std::string Utf8From936(const std::string& text)
{
    if (text.empty())
        return text;
    const int n = MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n <= 0 || !MultiByteToWideChar(936, 0, text.data(), static_cast<int>(text.size()), &wide[0], n))
        return std::string();
    const int m = WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(m > 0 ? m : 0), '\0');
    if (m > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), n, &utf8[0], m, nullptr, nullptr);
    return utf8;
}

} // namespace

void OpenUpdateLog(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)
        && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        && (static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) > kRotateAt)
        MoveFileExA(path.c_str(), (path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    const std::lock_guard<std::mutex> lock(g_lock);
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
    char head[64];
    std::snprintf(head, sizeof head, "%04u-%02u-%02u %02u:%02u:%02u %lu ", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, static_cast<unsigned long>(GetCurrentProcessId()));
    std::string line = std::string(head) + event;
    for (const CLogFact& fact : facts) {
        char number[24];
        if (!fact.m_pszText)
            std::snprintf(number, sizeof number, "%lld", fact.m_nNumber);
        std::string text = Utf8From936(WithoutCredentials(fact.m_pszText ? fact.m_pszText : number));
        for (char& c : text)
            if (c == '\r' || c == '\n')
                c = ' '; // one event, one line
        if (text.find(' ') != std::string::npos)
            text = "\"" + text + "\"";
        line += std::string(" ") + fact.m_pszName + "=" + text;
    }
    line += "\r\n";
    // Appending with sharing, one write a line: the installed program and its copy may
    // both write at once without tearing each other's lines.
    const CHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file.IsValid())
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
