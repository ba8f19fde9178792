// What a screen reader reads of our windows (Active Accessibility): an object answered
// to WM_GETOBJECT whose name is the window's text, whose role is the one given and
// whose state is the window's; its children are the window's child windows. Once the
// window is gone it answers every question with RPC_E_DISCONNECTED. Built on oleacc,
// ole32 and oleaut32 loaded from the system folder when a reader first asks, so the
// program imports none of them. Lives on the window's thread, whose apartment it
// enters then.
#pragma once

#include <windows.h>

// The answer for the window and its client area; false for any other object, which
// the window's default processing then answers.
bool AnswerGetObject(HWND hWnd, WPARAM wParam, LPARAM lParam, LONG nRole, LRESULT* pResult);

// Marks the client area a polite live region for UI Automation, whose clients then
// speak it on EVENT_OBJECT_LIVEREGIONCHANGED. Nothing where the system has no
// annotation service (before Windows 8, Wine).
void MakeLiveRegion(HWND hWnd);
