// The relaunch: the updater's copy and the script that runs it and then deletes the
// copy and itself, in the installation folder or, where that cannot be written, in a
// per-user scratch place.
#pragma once

#include <string>

#include "engine/Handle.h"

// Tells the copy where the installation is when it runs elsewhere. The copy clears it,
// so packages do not inherit it.
constexpr char kInstallFolderVariable[] = "MODULE_CLIENT_UPDATER_INSTALLATION";

// The command line as batch-script text that the interpreter hands the program exactly
// as given: '%' doubled everywhere, and '^' before & | < > ^ ( ) outside double quotes.
// False when one script line cannot carry it (it holds a line break or a NUL).
bool EscapeForBatch(const std::string& commandLine, std::string& escaped);

// Writes `scriptPath` in text mode and in the OEM code page, which the interpreter
// reads: the quoted copy with the command line, then the copy's and the script's own
// deletion. False when the command line or a path cannot be carried or the file cannot
// be written.
bool WriteRelaunchScript(const std::string& scriptPath, const std::string& copyPath,
                         const std::string& commandLine);

enum class RelaunchPrepared {
    Ready,
    CopyFailed,
    ScriptFailed
};
// Copies `self` into `folder` (with its final backslash) as <name>_BAK.exe and writes
// the script there. When the script fails, the copy is removed again.
RelaunchPrepared PrepareRelaunch(const std::string& self, const std::string& folder,
                                 const std::string& commandLine, std::string& script);

// %LOCALAPPDATA%\Vantorel\Updater\, created when needed; empty when it cannot be.
std::string ScratchFolder();

// Starts the script through the interpreter in the form whose quotes no folder name
// can split.
bool StartRelaunchScript(const std::string& script, CHandle& process);
