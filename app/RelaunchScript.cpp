#include "app/RelaunchScript.h"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "framework/UserText.h"

namespace {

std::string DoublePercent(const std::string& text)
{
    std::string doubled;
    for (const char c : text) {
        if (c == '%')
            doubled += '%';
        doubled += c;
    }
    return doubled;
}

// False when a character has no place in the OEM code page.
bool ToOemCodePage(std::string& text)
{
    return GetACP() == GetOEMCP() || Narrow(Widen(text, CP_ACP), CP_OEMCP, text);
}

} // namespace

bool EscapeForBatch(const std::string& commandLine, std::string& escaped)
{
    escaped.clear();
    bool bQuoted = false;
    for (const char c : commandLine) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
        if (c == '"')
            bQuoted = !bQuoted;
        if (c == '%')
            escaped += '%'; // %% is one % in a script, inside quotes too
        else if (!bQuoted && std::strchr("&|<>^()", c))
            escaped += '^';
        escaped += c;
    }
    return true;
}

bool WriteRelaunchScript(const std::string& scriptPath, const std::string& copyPath,
                         const std::string& commandLine)
{
    std::string arguments;
    if (!EscapeForBatch(commandLine, arguments))
        return false;
    // Inside quotes only '%' is special. Wine's interpreter expands the text of %0 once
    // more, so a script whose path holds one names itself.
    const std::string copy = DoublePercent(copyPath);
    const std::string self =
        scriptPath.find('%') == std::string::npos ? "%0" : "\"" + DoublePercent(scriptPath) + "\"";
    std::string text = "\"" + copy + "\" " + arguments + "\ndel \"" + copy + "\"\ndel " + self;
    if (!ToOemCodePage(text))
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(scriptPath.c_str(), "w"), std::fclose);
    if (!file)
        return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    return std::fclose(file.release()) == 0 && written;
}

RelaunchPrepared PrepareRelaunch(const std::string& self, const std::string& folder,
                                 const std::string& commandLine, std::string& script)
{
    const size_t slash = self.rfind('\\');
    const std::string name = self.substr(slash == std::string::npos ? 0 : slash + 1);
    // The extension's four characters make way, whatever they are.
    const std::string copy = folder + name.substr(0, name.size() >= 4 ? name.size() - 4 : 0) + "_BAK.exe";
    if (!CopyFileA(self.c_str(), copy.c_str(), FALSE))
        return RelaunchPrepared::CopyFailed;
    script = folder + "update.bat";
    // A command line the script cannot carry unchanged is not passed on in pieces.
    if (!WriteRelaunchScript(script, copy, commandLine)) {
        DeleteFileA(copy.c_str());
        return RelaunchPrepared::ScriptFailed;
    }
    return RelaunchPrepared::Ready;
}

std::string ScratchFolder()
{
    // An account named in characters the ANSI code page lacks goes by its short name.
    wchar_t base[MAX_PATH];
    std::string folder;
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                base))
        || !AnsiPath(base, folder))
        return std::string();
    for (const char* part : {"\\Vantorel", "\\Updater"}) {
        folder += part;
        if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
    return folder + "\\";
}

bool StartRelaunchScript(const std::string& script, CHandle& process)
{
    char system[MAX_PATH];
    const UINT n = GetSystemDirectoryA(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return false;
    const std::string interpreter = std::string(system) + "\\cmd.exe";
    // With /s the interpreter drops the outer quotes and keeps the rest as it is; /v:off
    // keeps a '!' in a path literal where the user's registry turns delayed expansion on.
    std::string commandLine = "cmd.exe /d /v:off /s /c \"\"" + script + "\"\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(interpreter.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info))
        return false;
    CloseHandle(info.hThread);
    process = CHandle(info.hProcess);
    return true;
}
