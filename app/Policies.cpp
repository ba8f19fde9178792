#include "app/Policies.h"

namespace {
const char kPolicyKey[] = "Software\\Policies\\Vantorel\\Updater";

// The value from the first of the machine's and the user's policies that holds it.
template<typename T> bool ReadPolicy(const char* name, DWORD type, T* data, DWORD size)
{
    for (const HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        DWORD n = size;
        if (RegGetValueA(root, kPolicyKey, name, type, nullptr, data, &n) == ERROR_SUCCESS)
            return true;
    }
    return false;
}
} // namespace

CPolicies ReadPolicies()
{
    CPolicies policies;
    ReadPolicy("UpdateDefault", RRF_RT_REG_DWORD, &policies.m_dwUpdateDefault, sizeof(DWORD));
    char url[300]; // as the user's settings value
    if (ReadPolicy("UpdateSvrUrl", RRF_RT_REG_SZ, url, sizeof url))
        policies.m_strInfoUrl = url;
    return policies;
}
