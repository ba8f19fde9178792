// The demo's hands and eyes on the Windows side:
//   demo_tool shot FILE.bmp   saves the whole screen as a 24-bit BMP
//   demo_tool cancel          presses the cancel button of the updater's visible popup
//   demo_tool version FILE    prints the file's product version
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
const int kCancelId = 305010;

BOOL CALLBACK PressCancel(HWND hWnd, LPARAM found)
{
    HWND button = GetDlgItem(hWnd, kCancelId);
    if (!IsWindowVisible(hWnd) || !button)
        return TRUE;
    SendMessageA(button, BM_CLICK, 0, 0);
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

int Shot(const char* path)
{
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    BITMAPINFOHEADER info = {sizeof info, cx, cy, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    info.biSizeImage = static_cast<DWORD>(((cx * 3 + 3) & ~3) * cy);
    std::vector<char> bits(info.biSizeImage);
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, cx, cy);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, cx, cy, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    GetDIBits(memory, bitmap, 0, cy, bits.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof info;
    const BITMAPFILEHEADER file = {0x4D42, offset + info.biSizeImage, 0, 0, offset};
    FILE* out = fopen(path, "wb");
    if (!out)
        return 1;
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(bits.data(), 1, bits.size(), out);
    return fclose(out) == 0 ? 0 : 1;
}

int Version(const char* path)
{
    DWORD handle = 0;
    std::vector<char> data(GetFileVersionInfoSizeA(path, &handle) + 1);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    if (!GetFileVersionInfoA(path, 0, static_cast<DWORD>(data.size()), data.data())
        || !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &size))
        return 1;
    printf("%u.%u.%u.%u\n", HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
           HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "shot") == 0)
        return Shot(argv[2]);
    if (argc == 3 && strcmp(argv[1], "version") == 0)
        return Version(argv[2]);
    if (argc == 2 && strcmp(argv[1], "cancel") == 0) {
        bool found = false;
        EnumWindows(PressCancel, reinterpret_cast<LPARAM>(&found));
        return found ? 0 : 1;
    }
    fprintf(stderr, "usage: demo_tool shot FILE.bmp | cancel | version FILE\n");
    return 2;
}
