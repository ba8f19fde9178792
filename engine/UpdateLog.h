// The support log: one line an event, appended by the installed program and by its copy
// to the same file, so that a run that did not update can be explained afterwards.
// Callers pass facts; this unit formats them, rotates the file and writes. Nothing it
// does can fail a run: a log that cannot be written is silently skipped. Any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// One fact of an event: a name and a text or number, which must live until the call
// returns (a temporary of the call's own expression does). A text is code page 936, as
// all strings here; URLs lose any user name and password they carry. Nothing is
// copied where the call is made, which keeps every call small.
struct CLogFact {
    CLogFact(const char* name, const std::string& text) : m_pszName(name), m_pszText(text.c_str()) {}
    CLogFact(const char* name, const char* text) : m_pszName(name), m_pszText(text ? text : "") {}
    CLogFact(const char* name, long long number) : m_pszName(name), m_nNumber(number) {}
    CLogFact(const char* name, int number) : CLogFact(name, static_cast<long long>(number)) {}
    CLogFact(const char* name, unsigned long number) : CLogFact(name, static_cast<long long>(number)) {}
    const char* m_pszName;
    const char* m_pszText = nullptr; // null for a number
    long long m_nNumber = 0;
};

// Where the log is kept from now on, for this process: `path`, renamed to `path`.1
// first (replacing an older one) when it is over 1 MiB. Without it nothing is written.
void OpenUpdateLog(const std::string& path);

// Appends "YYYY-MM-DD HH:MM:SS <process id> <event> name=value ..." as one line in UTF-8.
void LogEvent(const char* event, std::initializer_list<CLogFact> facts = {});

// A status message the worker posts, by name.
void LogStatus(unsigned message, std::uintptr_t phase, std::intptr_t result);
