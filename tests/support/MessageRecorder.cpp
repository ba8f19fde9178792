#include "MessageRecorder.h"

#include <algorithm>

namespace {
const char kClass[] = "TestMessageRecorder";
}

CMessageRecorder::CMessageRecorder()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    RegisterClassA(&wc); // a second registration fails harmlessly
    m_hWnd = CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

CMessageRecorder::~CMessageRecorder()
{
    DestroyWindow(m_hWnd);
}

LRESULT CALLBACK CMessageRecorder::Proc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<CMessageRecorder*>(GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (self && message >= WM_USER && message < 0x8000) {
        self->m_messages.push_back({message, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(hWnd, message, wParam, lParam);
}

const std::vector<RecordedMessage>& CMessageRecorder::Drain()
{
    MSG msg;
    while (PeekMessageA(&msg, m_hWnd, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    return m_messages;
}

const std::vector<RecordedMessage>& CMessageRecorder::WaitFor(UINT message)
{
    auto seen = [&]() {
        return std::any_of(m_messages.begin(), m_messages.end(),
                           [&](const RecordedMessage& m) { return m.message == message; });
    };
    MSG msg;
    while (!seen() && GetMessageA(&msg, m_hWnd, 0, 0) > 0)
        DispatchMessageA(&msg);
    return Drain();
}
