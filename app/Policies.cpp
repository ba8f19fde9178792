#include "app/Policies.h"

#include "engine/UpdateEngine.h"
#include "engine/UpdateLog.h"
#include "framework/UserText.h"

namespace {
const char kPolicyKey[] = "Software\\Policies\\Vantorel\\Updater";
const wchar_t kPolicyKeyW[] = L"Software\\Policies\\Vantorel\\Updater";
const DWORD kMaxUrlChars = 300;                                // the template allows 299 characters
const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}; // the machine's value wins

const char* RootName(HKEY root)
{
    return root == HKEY_LOCAL_MACHINE ? "machine" : "user";
}

// A value set where an administrator sets it, but not taken: the next source applies.
void LogIgnored(HKEY root, const char* name, const char* why)
{
    LogEvent("policy-ignored", {{"value", name}, {"of", RootName(root)}, {"why", why}});
}
} // namespace

CPolicies ReadPolicies()
{
    CPolicies policies;
    // Each value from the first of the machine's and the user's policies that holds a
    // usable one, read into a temporary: a failed read may have written part of it.
    for (const HKEY root : kRoots) {
        DWORD value = 0, size = sizeof value;
        const LONG rc =
            RegGetValueA(root, kPolicyKey, "UpdateDefault", RRF_RT_REG_DWORD, nullptr, &value, &size);
        if (rc == ERROR_SUCCESS && value <= CPolicies::UPDATES_BY_HAND) {
            policies.m_dwUpdateDefault = value;
            break;
        }
        if (rc != ERROR_FILE_NOT_FOUND)
            LogIgnored(root, "UpdateDefault", rc == ERROR_SUCCESS ? "not 0, 1 or 2" : "not a number");
    }
    for (const HKEY root : kRoots) {
        // Wide, then in the ANSI code page as URLs travel here: the narrow call would cut
        // a long value with two-byte characters, and a character the code page lacks
        // would name another server.
        wchar_t wide[kMaxUrlChars];
        DWORD size = sizeof wide;
        const LONG rc = RegGetValueW(root, kPolicyKeyW, L"UpdateSvrUrl", RRF_RT_REG_SZ, nullptr, wide, &size);
        if (rc == ERROR_FILE_NOT_FOUND)
            continue;
        std::string url;
        const char* why = rc == ERROR_MORE_DATA        ? "longer than 299 characters"
                          : rc != ERROR_SUCCESS        ? "not a text"
                          : !Narrow(wide, CP_ACP, url) ? "not in the system's code page"
                          : !IsDownloadUrl(url)        ? "neither http:// nor https://"
                                                       : nullptr;
        if (!why) {
            policies.m_strInfoUrl = url;
            break;
        }
        LogIgnored(root, "UpdateSvrUrl", why);
    }
    return policies;
}
