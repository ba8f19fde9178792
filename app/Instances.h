// One updater at a time per installation and user session. Starts of an installation
// take turns through a start lock; the running copy holds a run lock from its start to
// its end and answers a new start through its dialog.
#pragma once

#include <string>

#include "engine/Handle.h"

// Held while one start of the installation decides what to do and, if it relaunches,
// until its copy holds the run lock. Released when the object goes.
class CStartLock {
public:
    explicit CStartLock(const std::string& installFolder);
    ~CStartLock();
    CStartLock(const CStartLock&) = delete;
    CStartLock& operator=(const CStartLock&) = delete;
    bool Held() const { return m_bHeld; }

private:
    CHandle m_hMutex;
    bool m_bHeld = false;
};

// Takes the run lock for the copy; false when another copy of the installation runs.
bool HoldRunLock(const std::string& installFolder, CHandle& lock);

// Asks a running copy of the installation what it does: false when it is still at work
// (its popup brought up when `show`), true when none runs or it has made way.
bool MakeWayForStart(const std::string& installFolder, bool show);

// Returns once the copy started by `script` holds the run lock, or the script ended.
void WaitUntilCopyRuns(const std::string& installFolder, HANDLE script);
