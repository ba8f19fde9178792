// Status notifications the engine's worker posts to the main dialog. wParam is
// the phase (0, 10, 20 or 30); lParam is 0 or a download result code.
#pragma once

#include <windows.h>

enum : UINT {
    UM_TRANSFER_STATE = WM_USER + 200, // download phases: 0 connecting, 10 sent, 20 headers, 30 done
    UM_UPDATE_ERROR = WM_USER + 201,  // 0 folder, 10 update info or package URL, 20 package start, 30 closing
    UM_INFO_STATE = WM_USER + 202,    // 0 start, 10 done, 20 failed (lParam: result code)
    UM_PACKAGE_STATE = WM_USER + 203, // 0 start, 10 one package done, 20 failed (lParam: result code)
    UM_UPDATE_RESULT = WM_USER + 204, // 0 latest, 10 too old, 20 updated
};

// Results of CUpdateEngine::HttpDownload besides an HTTP status code.
enum : int {
    DOWNLOAD_OK = 200,
    DOWNLOAD_FAILED = -1,    // bad URL, socket set-up, address, malformed response, file
    DOWNLOAD_TRANSFER = -2,  // no connection, send or receive failed or timed out
    DOWNLOAD_CANCELLED = -3, // m_bCancel was found set
};
