// Every conversion between code pages is made here. Texts for the user are code-page-936
// bytes: where the system's ANSI code page is 936 they go to the "A" calls as they are;
// elsewhere the "A" calls would read them in another code page, so they are converted
// where they are shown and go through the wide calls. System strings (paths, URLs,
// names from "A" calls) are in the ANSI code page; the log is UTF-8.
#pragma once

#include <windows.h>

#include <string>

bool TextsNeedWideCalls();
std::wstring Widen(const std::string& text, UINT nCodePage);
// The text in `nCodePage`; false when a character has no place there (no best fit).
bool Narrow(const std::wstring& text, UINT nCodePage, std::string& narrow);
// A path from a wide call, for the "A" calls: in the ANSI code page where it holds every
// character, otherwise its short (8.3) form, which it does. False when neither names it.
bool AnsiPath(const std::wstring& wide, std::string& path);
// The running program's own full path, as AnsiPath gives it.
bool ModulePath(std::string& path);
inline std::wstring WideFrom936(const std::string& text)
{
    return Widen(text, 936);
}
// The character set of fonts for these texts: elsewhere than on 936, one whose fonts
// hold their characters.
BYTE UserTextCharSet();

// The "A" calls of the same names, for texts in code page 936. A null caption is
// the system's own.
int UserMessageBox(HWND hOwner, const char* pszText, const char* pszCaption, UINT nType);
BOOL SetUserWindowText(HWND hWnd, const char* pszText);
int DrawUserText(HDC hDC, const std::string& text, RECT* pRect, UINT nFormat);
BOOL UserTextOut(HDC hDC, int x, int y, const std::string& text);

// The text without its final line break, as it is read out rather than painted.
std::string WithoutFinalLineBreak(const std::string& text);

// The decimal digits of n, a minus in front of a negative one, or the lower-case
// hexadecimal digits of n; at least `width` digits, zeros in front. Texts are built with
// these rather than the C library's formatting, which brings in all its printf.
std::string NumberText(long long n, int width = 1);
std::string HexText(unsigned long long n, int width = 1);

// Draws a window's own text, read the way it was set.
int DrawWindowText(HDC hDC, HWND hWnd, RECT* pRect, UINT nFormat);
