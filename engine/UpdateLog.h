// The support log: one line an event, appended by the installed program and by its copy
// to the same file, so that a run that did not update can be explained afterwards.
// Callers pass facts; this unit formats them, rotates the file and writes. Nothing it
// does can fail a run: a log that cannot be written is silently skipped. Any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// One fact of an event: a name and a text or number, which must live until the call
// returns (a temporary of the call's own expression does). A text says what it is: a
// system string in the ANSI code page (paths, names), a user text in code page 936, or a
// URL (a system string that loses any user name and password, and its query's values
// but the version's). Nothing is copied where the call is made, which keeps every call
// small.
struct CLogFact {
    enum Kind : unsigned char {
        SYSTEM_TEXT,
        USER_TEXT,
        URL,
        NUMBER
    };
    CLogFact(const char* name, const std::string& text, Kind kind = SYSTEM_TEXT)
        : m_pszName(name), m_pszText(text.c_str()), m_kind(kind)
    {
    }
    CLogFact(const char* name, const char* text, Kind kind = SYSTEM_TEXT)
        : m_pszName(name), m_pszText(text ? text : ""), m_kind(kind)
    {
    }
    CLogFact(const char* name, long long number) : m_pszName(name), m_nNumber(number), m_kind(NUMBER) {}
    CLogFact(const char* name, int number) : CLogFact(name, static_cast<long long>(number)) {}
    CLogFact(const char* name, unsigned long number) : CLogFact(name, static_cast<long long>(number)) {}
    const char* m_pszName;
    const char* m_pszText = "";
    long long m_nNumber = 0;
    Kind m_kind;
};

// Where the log is kept from now on, for this process: `path`, renamed to `path`.1
// first (replacing an older one) when it is over 1 MiB. Without it, or with an empty
// path, nothing is written.
// Nothing is written either where the file or its folders are links (a junction, a
// symbolic or a hard link): an elevated updater must not append to a file its user
// chose.
void OpenUpdateLog(const std::string& path);

// Appends "YYYY-MM-DD HH:MM:SS <process id> <event> name=value ..." as one line in UTF-8.
// A value holding a blank or a quote is quoted, its quotes and backslashes escaped.
void LogEvent(const char* event, std::initializer_list<CLogFact> facts = {});

// A status message the worker posts, by name.
void LogStatus(unsigned message, std::uintptr_t phase, std::intptr_t result);
