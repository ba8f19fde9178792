// What the attempts at one download share, between the retry loop (HttpDownload) and
// the route that makes each attempt: the file so far and what a resume asks for, in;
// what the server answered, out. Lives on the worker thread, for one download.
#pragma once

#include <string>

#include "engine/BodyFile.h"

class CDownloadAttempt {
public:
    CDownloadAttempt(CBodyFile& file, HWND hWnd, bool notify) : m_file(file), m_hWnd(hWnd), m_bNotify(notify)
    {
    }

    // The header fields a retry needs, as the answer sent them (empty when it did not).
    enum Field {
        ETAG,
        LAST_MODIFIED,
        CONTENT_RANGE,
        RETRY_AFTER,
        FIELDS
    };
    static const size_t kFieldSize = 100; // longer than any validator, range or wait: not read

    // Posts a transfer phase, unless an earlier attempt did: a retry is not news.
    void Post(WPARAM phase);
    // Keeps the n bytes of a field's value, unless they do not fit.
    void SetField(int field, const char* value, size_t n);
    // The request's header lines (each ended by CRLF) asking for the rest of the kept
    // bytes; empty when nothing is kept, so a first request has none.
    std::string ResumeLines() const;
    // Starts the file anew for a 200's body, keeping its version's validator.
    bool Begin(std::int32_t length);
    // Whether a 206 of `partLength` bytes is exactly the rest of the kept bytes.
    bool IsRest(long long partLength) const;
    // The wait in seconds a failed answer asked for, -1 for none.
    int RetryAfter() const;
    // Clears the answer's facts before the next attempt.
    void Next();

    CBodyFile& m_file;
    // The answer: its status (0 before one), how far the attempt got (the phase it
    // reached) and whether a receive ran out of time.
    int m_nStatus = 0;
    WPARAM m_nReached = 0;
    bool m_bTimedOut = false;

private:
    const HWND m_hWnd;
    const bool m_bNotify;
    WPARAM m_nPostFrom = 0;
    char m_szFields[FIELDS][kFieldSize] = {};
    char m_szValidator[kFieldSize] = ""; // for If-Range: the kept version's strong ETag or date
};
