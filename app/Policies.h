// What an administrator set for the updater, read once at start-up: each value from
// the machine's policies first, then from the user's. Where nothing is set, the
// updater behaves as it always has.
#pragma once

#include <windows.h>

#include <string>

struct CPolicies {
    enum : DWORD {
        UPDATES_OFF = 0,
        UPDATES_ON = 1,
        UPDATES_BY_HAND = 2
    };
    DWORD m_dwUpdateDefault = UPDATES_ON;
    std::string m_strInfoUrl; // the update-info URL in place of the user's; empty: none set

    // Whether a start (quiet: at login, with the argument 1) may check for updates.
    bool Allow(bool quiet) const
    {
        return m_dwUpdateDefault != UPDATES_OFF && !(quiet && m_dwUpdateDefault == UPDATES_BY_HAND);
    }
};

CPolicies ReadPolicies();
