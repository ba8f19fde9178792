// What the build itself must get right: the executable's version block and the
// code page of the user texts.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestHttpServer.h"

namespace {

std::string QueryString(const std::vector<BYTE>& data, const char* name)
{
    char* value = nullptr;
    UINT size = 0;
    const std::string key = std::string("\\StringFileInfo\\080403a8\\") + name;
    if (!VerQueryValueA(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &size) || !value)
        return "<missing>";
    return value;
}

TEST(Build, UpdaterVersionBlock)
{
    const std::string exe = ExeFolder() + "Module_Client_Updater.exe";
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_GT(size, 0u) << exe;
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize));
    EXPECT_EQ(info->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(info->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(info->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(info->dwProductVersionLS, 0x00000001u);

    WORD* translation = nullptr;
    UINT translationSize = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &translationSize));
    ASSERT_GE(translationSize, 4u);
    EXPECT_EQ(translation[0], 0x0804);
    EXPECT_EQ(translation[1], 936);

    EXPECT_EQ(QueryString(data, "InternalName"), "Module_Client_Updater.exe");
    EXPECT_EQ(QueryString(data, "OriginalFilename"), "Module_Client_Updater.exe");
}

TEST(Build, TextsAreCodePage936)
{
    // "升级启动成功。\r\n" as the code-page-936 bytes the user texts must carry.
    const unsigned char expected[] = {0xC9, 0xFD, 0xBC, 0xB6, 0xC6, 0xF4, 0xB6, 0xAF,
                                      0xB3, 0xC9, 0xB9, 0xA6, 0xA1, 0xA3, 0x0D, 0x0A};
    const std::string text = "升级启动成功。\r\n";
    EXPECT_EQ(text, std::string(reinterpret_cast<const char*>(expected), sizeof expected));
    EXPECT_EQ(GetACP(), 936u) << "Wine must run with the zh_CN.UTF-8 locale";
}

} // namespace
