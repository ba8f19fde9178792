#include "framework/UserText.h"

#include <algorithm>
#include <vector>

bool TextsNeedWideCalls()
{
    return ::GetACP() != 936;
}

BYTE UserTextCharSet()
{
    return TextsNeedWideCalls() ? GB2312_CHARSET : DEFAULT_CHARSET;
}

std::wstring Widen(const std::string& text, UINT nCodePage)
{
    const int nChars = static_cast<int>(text.size());
    const int n = ::MultiByteToWideChar(nCodePage, 0, text.data(), nChars, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(nCodePage, 0, text.data(), nChars, &wide[0], n);
    return wide;
}

bool Narrow(const std::wstring& text, UINT nCodePage, std::string& narrow)
{
    // Checked by the way back: code page 65001 refuses the "used default character"
    // argument, and a best-fit character comes back as another.
    const int nChars = static_cast<int>(text.size());
    const DWORD flags = nCodePage == CP_UTF8 || nCodePage == CP_UTF7
                                || (nCodePage == CP_ACP && (::GetACP() == CP_UTF8 || ::GetACP() == CP_UTF7))
                            ? 0
                            : WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(nCodePage, flags, text.data(), nChars, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(nCodePage, flags, text.data(), nChars, &bytes[0], n, nullptr, nullptr);
    if (Widen(bytes, nCodePage) != text)
        return false;
    narrow.swap(bytes);
    return true;
}

bool AnsiPath(const std::wstring& wide, std::string& path)
{
    if (Narrow(wide, CP_ACP, path))
        return true;
    // Only the names the code page lacks are shortened: a program tells its role from its
    // own file name.
    std::string ansi, name;
    for (size_t start = 0; start <= wide.size();) {
        const size_t end = std::min(wide.find(L'\\', start), wide.size());
        if (!Narrow(wide.substr(start, end - start), CP_ACP, name)) {
            const std::wstring prefix = wide.substr(0, end);
            const DWORD n = ::GetShortPathNameW(prefix.c_str(), nullptr, 0);
            std::wstring shortPath(n, L'\0');
            if (n == 0 || ::GetShortPathNameW(prefix.c_str(), &shortPath[0], n) != n - 1)
                return false;
            shortPath.resize(n - 1);
            if (!Narrow(shortPath.substr(shortPath.rfind(L'\\') + 1), CP_ACP, name))
                return false;
        }
        ansi += name + (end < wide.size() ? "\\" : "");
        start = end + 1;
    }
    path.swap(ansi);
    return true;
}

bool ModulePath(std::string& path)
{
    wchar_t wide[MAX_PATH + 1];
    const DWORD n = ::GetModuleFileNameW(nullptr, wide, MAX_PATH + 1);
    return n > 0 && n <= MAX_PATH && AnsiPath(std::wstring(wide, n), path);
}

int UserMessageBox(HWND hOwner, const char* pszText, const char* pszCaption, UINT nType)
{
    if (!TextsNeedWideCalls())
        return ::MessageBoxA(hOwner, pszText, pszCaption, nType);
    const std::wstring text = WideFrom936(pszText), caption = pszCaption ? WideFrom936(pszCaption) : L"";
    return ::MessageBoxW(hOwner, text.c_str(), pszCaption ? caption.c_str() : nullptr, nType);
}

BOOL SetUserWindowText(HWND hWnd, const char* pszText)
{
    if (!TextsNeedWideCalls())
        return ::SetWindowTextA(hWnd, pszText);
    return ::SetWindowTextW(hWnd, WideFrom936(pszText).c_str());
}

int DrawUserText(HDC hDC, const std::string& text, RECT* pRect, UINT nFormat)
{
    if (!TextsNeedWideCalls())
        return ::DrawTextA(hDC, text.c_str(), static_cast<int>(text.size()), pRect, nFormat);
    const std::wstring wide = WideFrom936(text);
    return ::DrawTextW(hDC, wide.c_str(), static_cast<int>(wide.size()), pRect, nFormat);
}

BOOL UserTextOut(HDC hDC, int x, int y, const std::string& text)
{
    if (!TextsNeedWideCalls())
        return ::TextOutA(hDC, x, y, text.c_str(), static_cast<int>(text.size()));
    const std::wstring wide = WideFrom936(text);
    return ::TextOutW(hDC, x, y, wide.c_str(), static_cast<int>(wide.size()));
}

std::string WithoutFinalLineBreak(const std::string& text)
{
    const size_t n = text.size();
    return n >= 2 && text.compare(n - 2, 2, "\r\n") == 0 ? text.substr(0, n - 2) : text;
}

namespace {
std::string Digits(unsigned long long n, unsigned base, int width)
{
    std::string digits;
    for (; n || static_cast<int>(digits.size()) < width; n /= base)
        digits.insert(digits.begin(), "0123456789abcdef"[n % base]);
    return digits;
}
} // namespace

std::string NumberText(long long n, int width)
{
    const unsigned long long magnitude = n < 0 ? 0 - static_cast<unsigned long long>(n) : n;
    return (n < 0 ? "-" : "") + Digits(magnitude, 10, width);
}

std::string HexText(unsigned long long n, int width)
{
    return Digits(n, 16, width);
}

int DrawWindowText(HDC hDC, HWND hWnd, RECT* pRect, UINT nFormat)
{
    if (!TextsNeedWideCalls()) {
        std::vector<char> text(static_cast<size_t>(::GetWindowTextLengthA(hWnd)) + 1);
        const int n = ::GetWindowTextA(hWnd, text.data(), static_cast<int>(text.size()));
        return ::DrawTextA(hDC, text.data(), n, pRect, nFormat);
    }
    std::vector<wchar_t> text(static_cast<size_t>(::GetWindowTextLengthW(hWnd)) + 1);
    const int n = ::GetWindowTextW(hWnd, text.data(), static_cast<int>(text.size()));
    return ::DrawTextW(hDC, text.data(), n, pRect, nFormat);
}
