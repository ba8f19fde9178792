// Engine set-up: where the update-info URL comes from, the version query built
// from the main program's product version, and how far a failed Init gets.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestHttpServer.h"
#include "engine/UpdateEngine.h"

using namespace engine_detail;

namespace {

// Snapshot of the settings value, put back when the test ends.
class CSettingsGuard {
public:
    CSettingsGuard()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            DWORD size = 0;
            if (RegQueryValueExA(key, kSettingsValue, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
                m_data.resize(size);
                m_had = RegQueryValueExA(key, kSettingsValue, nullptr, &m_type, m_data.data(), &size)
                        == ERROR_SUCCESS;
            }
            RegCloseKey(key);
        }
    }
    ~CSettingsGuard()
    {
        if (m_had)
            Set(m_type, m_data.data(), static_cast<DWORD>(m_data.size()));
        else
            Delete();
    }
    static void Set(DWORD type, const void* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, kSettingsValue, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    static void SetText(const std::string& text) { Set(REG_SZ, text.c_str(), DWORD(text.size() + 1)); }
    static void Delete() { RegDeleteKeyValueA(HKEY_CURRENT_USER, kSettingsKey, kSettingsValue); }

private:
    bool m_had = false;
    DWORD m_type = 0;
    std::vector<BYTE> m_data;
};

// Puts a build of the fake main program next to this executable as Vantorel.exe.
class CMainProgram {
public:
    explicit CMainProgram(const char* fake) : m_path(ExeFolder() + "Vantorel.exe")
    {
        if (fake)
            EXPECT_TRUE(CopyFileA((ExeFolder() + fake).c_str(), m_path.c_str(), FALSE)) << fake;
        else
            DeleteFileA(m_path.c_str());
    }
    ~CMainProgram() { DeleteFileA(m_path.c_str()); }

private:
    std::string m_path;
};

class InitTest : public ::testing::Test {
protected:
    CSettingsGuard m_settings;
};

TEST_F(InitTest, WithoutSettingsUsesDefaultUrlAndVersionQuery)
{
    CSettingsGuard::Delete();
    CMainProgram main("fake_1_2_3_4.exe");
    CUpdateEngine engine;
    const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    ASSERT_EQ(engine.Init(window), 0);
    EXPECT_EQ(engine.m_strInfoUrl, std::string(kDefaultInfoUrl) + "?v=01020003");
    EXPECT_EQ(engine.m_hNotifyWnd, window);
    EXPECT_EQ(engine.m_strFolder, ExeFolder());
    EXPECT_EQ(engine.m_strModuleName, "engine_core_tests.exe");
    EXPECT_EQ(engine.m_dwVersion, 0x01020003u);

    const std::string url = kDefaultInfoUrl;
    EXPECT_EQ(url.rfind("http://", 0), 0u);
    EXPECT_EQ(url.substr(url.size() - 25), "/download/update_info.php");
}

TEST_F(InitTest, SettingsUrlKeepsItsOwnQuery)
{
    CSettingsGuard::SetText("http://srv/u.php?x=1");
    CMainProgram main("fake_1_2_3_4.exe");
    CUpdateEngine engine;
    ASSERT_EQ(engine.Init(nullptr), 0);
    EXPECT_EQ(engine.m_strInfoUrl, "http://srv/u.php?x=1?v=01020003");
}

TEST_F(InitTest, SettingsValueSizeLimit)
{
    CMainProgram main("fake_1_2_3_4.exe");
    const std::string longest = "http://h/" + std::string(299 - 9, 'a'); // 300 bytes with its NUL
    struct Case {
        DWORD type;
        std::string bytes; // stored exactly, NUL included where wanted
        std::string expected;
    } cases[] = {
        {REG_SZ, longest + '\0', longest},
        {REG_SZ, longest + "b" + '\0', kDefaultInfoUrl},                 // 301 bytes: too long
        {REG_BINARY, std::string(300, 'x'), kDefaultInfoUrl},            // fills the buffer, no NUL
        {REG_BINARY, std::string("http://a/b\0junk", 15), "http://a/b"}, // text up to the first NUL
    };
    for (const Case& c : cases) {
        CSettingsGuard::Set(c.type, c.bytes.data(), DWORD(c.bytes.size()));
        CUpdateEngine engine;
        ASSERT_EQ(engine.Init(nullptr), 0);
        EXPECT_EQ(engine.m_strInfoUrl, c.expected + "?v=01020003") << c.bytes.size() << " bytes";
    }
}

TEST_F(InitTest, ProductVersions)
{
    CSettingsGuard::SetText("http://h/i.php");
    const struct {
        const char* fake; // null: no Vantorel.exe at all
        int result;
        const char* url;
    } cases[] = {
        {"fake_1_2_3_4.exe", 0, "http://h/i.php?v=01020003"},
        {"fake_2_10_300_7.exe", 0, "http://h/i.php?v=020a012c"},
        {"fake_255_255_65535_9.exe", 0, "http://h/i.php?v=ffffffff"},
        {"fake_256_0_0_0.exe", 2, "http://h/i.php"},
        {"fake_1_256_0_0.exe", 2, "http://h/i.php"},
        {"fake_noversion.exe", 2, "http://h/i.php"},
        {nullptr, 2, "http://h/i.php"},
    };
    for (const auto& c : cases) {
        CMainProgram main(c.fake);
        CUpdateEngine engine;
        const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x5678));
        EXPECT_EQ(engine.Init(window), c.result) << (c.fake ? c.fake : "missing");
        // A version failure leaves what was set before it.
        EXPECT_EQ(engine.m_strInfoUrl, c.url);
        EXPECT_EQ(engine.m_hNotifyWnd, window);
        EXPECT_EQ(engine.m_strFolder, ExeFolder());
        EXPECT_EQ(engine.m_strModuleName, "engine_core_tests.exe");
        if (c.result != 0) {
            EXPECT_EQ(engine.m_dwVersion, 0u);
        }
    }
}

TEST(ModulePath, Split)
{
    const struct {
        const char* path;
        DWORD length; // as GetModuleFileName reports it
        bool ok;
        const char* folder;
        const char* name;
    } cases[] = {
        {"C:\\Apps\\Tool\\upd.exe", 20, true, "C:\\Apps\\Tool\\", "upd.exe"},
        {"C:\\upd.exe", 10, true, "C:\\", "upd.exe"},
        {"upd.exe", 7, false, "", ""},
        {"\\upd.exe", 8, false, "", ""},
        {"", 0, false, "", ""},
        {"C:\\x", MAX_PATH + 1, false, "", ""}, // the path was cut
    };
    for (const auto& c : cases) {
        std::string folder, name;
        std::string buffer(c.path);
        buffer.resize(MAX_PATH + 1, 'x');
        EXPECT_EQ(SplitModulePath(buffer.c_str(), c.length, folder, name), c.ok) << c.path;
        EXPECT_EQ(folder, c.folder);
        EXPECT_EQ(name, c.name);
    }
}

} // namespace
