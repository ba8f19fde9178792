// The script that runs the updater's copy and then deletes the copy and itself.
#pragma once

#include <string>

// The command line as batch-script text that the interpreter hands the program exactly
// as given: '%' doubled everywhere, and '^' before & | < > ^ ( ) outside double quotes.
// False when one script line cannot carry it (it holds a line break or a NUL).
bool EscapeForBatch(const std::string& commandLine, std::string& escaped);

// Writes `scriptPath` in text mode: the quoted copy with the command line, then the
// copy's and the script's own deletion. False when the command line cannot be carried
// or the file cannot be written.
bool WriteRelaunchScript(const std::string& scriptPath, const std::string& copyPath,
                         const std::string& commandLine);
