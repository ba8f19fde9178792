// A hidden message-only window that records every message posted to it, for
// comparing the engine's status notifications with an expected sequence.
#pragma once

#include <windows.h>

#include <ostream>
#include <vector>

struct RecordedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const RecordedMessage& o) const
    {
        return message == o.message && wParam == o.wParam && lParam == o.lParam;
    }
};

inline void PrintTo(const RecordedMessage& m, std::ostream* os)
{
    *os << "{" << m.message << ", " << m.wParam << ", " << static_cast<long long>(m.lParam) << "}";
}

class CMessageRecorder {
public:
    CMessageRecorder();
    ~CMessageRecorder();
    CMessageRecorder(const CMessageRecorder&) = delete;
    CMessageRecorder& operator=(const CMessageRecorder&) = delete;

    HWND Window() const { return m_hWnd; }
    // Dispatches what is queued now and returns everything recorded so far.
    const std::vector<RecordedMessage>& Drain();
    void Clear() { m_messages.clear(); }
    // Pumps messages until one with this number arrives.
    const std::vector<RecordedMessage>& WaitFor(UINT message);

private:
    static LRESULT CALLBACK Proc(HWND, UINT, WPARAM, LPARAM);
    HWND m_hWnd;
    std::vector<RecordedMessage> m_messages;
};
