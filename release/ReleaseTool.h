// The release tool's two commands, each given the arguments after its name. They
// print what they find on standard output, and a wrong argument or a file that cannot
// be opened on standard error. Exit status: 0 all is well, 1 the release is refused
// (a package some copy refuses, an answer the updater would refuse), 2 wrong arguments.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

int CheckRelease(const std::vector<std::string>& args);
int WriteServerAnswers(const std::vector<std::string>& args);

// Prints to standard error and returns 2.
int Usage(const std::string& why);

// A version "a.b.c.d", each part 0 to 65535, packed first-highest; false when it is not one.
bool ParseVersion(const std::string& text, ULONGLONG& version);
