#!/usr/bin/env python3
"""Deliberate breakages of the product, each a small change a real mistake could make.

Run through scripts/mutants.sh, which prepares the scratch tree, the build and the
environment. For each breakage: apply it to the scratch copy, build, run the ctest
entries that should catch it, put the file back, and print one line. A breakage whose
text no longer matches the source is reported as stale, so the list keeps up with
the code.
"""
import json
import os
import re
import subprocess
import sys

# (name, file, text as it is, text broken, ctest entries expected to catch it)
MUTANTS = [
    # HTTP client
    ("request-line-http-1.1", "engine/HttpDownload.cpp",
     '" HTTP/1.0\\r\\n\\r\\n"', '" HTTP/1.1\\r\\n\\r\\n"', "engine_core"),
    ("request-without-blank-line", "engine/HttpDownload.cpp",
     '" HTTP/1.0\\r\\n\\r\\n"', '" HTTP/1.0\\r\\n"', "engine_core"),
    ("label-case-sensitive", "engine/HttpDownload.cpp",
     "return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;", "return c;",
     "engine_core"),
    ("label-carry-one-byte-short", "engine/HttpDownload.cpp",
     "carry(kBufferSize - kLabelSize)", "carry(kBufferSize - kLabelSize + 1)", "engine_core"),
    ("header-end-carry-one-byte-short", "engine/HttpDownload.cpp",
     "carry(kBufferSize - kHeaderEndSize)", "carry(kBufferSize - kHeaderEndSize + 1)", "engine_core"),
    ("cut-length-digits-not-read-on", "engine/HttpDownload.cpp",
     "if (atEnd && count == kBufferSize) {", "if (false) {", "engine_core"),
    ("short-body-accepted", "engine/BodyFile.h",
     "if (m_stored != m_length)", "if (m_stored > m_length)", "engine_core|system_http"),
    ("overlong-body-accepted", "engine/BodyFile.h",
     "if (n > m_length - m_stored || ", "if (", "engine_core"),
    ("failed-download-file-kept", "engine/BodyFile.h",
     "            m_file = nullptr;\n            DeleteFileA(m_path);", "            m_file = nullptr;", "engine_core"),
    ("headers-phase-posted-twice", "engine/HttpDownload.cpp",
     "post(20);", "post(20);\n    post(20);", "engine_core"),
    ("done-phase-missing", "engine/HttpDownload.cpp", "post(30);", "", "engine_core"),
    # Not listed: the body loop not looking at the cancel flag. Cancel closes the socket,
    # so the next receive fails and the download reports the cancel anyway.
    ("other-status-reported-as-failure", "engine/HttpDownload.cpp",
     "        return status;", "        return DOWNLOAD_FAILED;", "engine_core"),
    ("stale-bytes-parsed", "engine/HttpDownload.cpp",
     "ReadDecimal(buffer + p + kLabelSize, buffer + count,", "ReadDecimal(buffer + p + kLabelSize, buffer + kBufferSize,",
     "engine_core"),
    ("negative-status-passed-on", "engine/HttpDownload.cpp", "if (status < 0)", "if (status < -100)",
     "engine_core"),
    ("counters-not-reset", "engine/HttpDownload.cpp",
     "    m_nContentLength = -1;\n    m_nReceived = 0;\n", "", "engine_core"),
    # Update-info reader
    ("verdict-ignores-case", "engine/UpdateInfo.cpp",
     'if (line == "latest")', 'if (line == "latest" || line == "Latest")', "engine_core"),
    ("verdict-as-prefix", "engine/UpdateInfo.cpp",
     'if (line == "too_old")', 'if (line.compare(0, 7, "too_old") == 0)', "engine_core"),
    ("verdict-without-line-break", "engine/UpdateInfo.cpp",
     "if (!ReadLine(file.get(), line, complete) || !complete)", "if (!ReadLine(file.get(), line, complete))",
     "engine_core"),
    ("empty-url-lines-kept", "engine/UpdateInfo.cpp",
     "if (!line.empty())\n            urls.push_back(line);", "urls.push_back(line);", "engine_core"),
    ("last-url-dropped", "engine/UpdateInfo.cpp",
     "while (ReadLine(file.get(), line, complete)) {",
     "while (ReadLine(file.get(), line, complete) && complete) {", "engine_core"),
    # Closing running programs
    ("no-grace-wait", "engine/CloseRunningPrograms.cpp",
     "const DWORD kGraceMs = 1000;", "const DWORD kGraceMs = 0;", "close_programs"),
    ("case-sensitive-name", "engine/CloseRunningPrograms.cpp",
     "return lstrcmpiA(a, b) == 0;", "return lstrcmpA(a, b) == 0;", "close_programs"),
    ("asked-only-once", "engine/CloseRunningPrograms.cpp",
     "while (wait == WAIT_TIMEOUT) {", "if (wait == WAIT_TIMEOUT) {", "close_programs"),
    ("yes-does-not-end-the-program", "engine/CloseRunningPrograms.cpp",
     "if (bForce && !TerminateProcess(process, 1))", "if (bForce && false)", "close_programs"),
    ("installed-name-offset", "engine/CloseRunningPrograms.cpp",
     "erase(moduleName.size() - 8, 4)", "erase(moduleName.size() - 7, 4)", "close_programs"),
    ("short-name-unguarded", "engine/CloseRunningPrograms.cpp",
     "    if (moduleName.size() < 8)\n        return false;\n", "", "close_programs"),
    ("installed-updater-left-running", "engine/CloseRunningPrograms.cpp",
     "if (process.IsValid())\n        TerminateProcess(process, 1);", "(void)process;",
     "close_programs"),
    ("any-installation-updater-ended", "engine/CloseRunningPrograms.cpp",
     "    if (IsOurs(processId, installedUpdater, query, \"installed updater left running\") != Answer::Yes)\n        return;\n",
     "", "close_programs"),
    ("unidentified-updater-ended", "engine/CloseRunningPrograms.cpp",
     "\"installed updater left running\") != Answer::Yes)", "\"installed updater left running\") == Answer::No)",
     "close_programs"),
    ("process-handle-leaked", "engine/CloseRunningPrograms.cpp",
     "    LogEvent(wait == WAIT_OBJECT_0 ?", "    process.Detach();\n    LogEvent(wait == WAIT_OBJECT_0 ?",
     "close_programs"),
    ("ended-instance-is-a-failure", "engine/CloseRunningPrograms.cpp",
     "\"main program asked about as ours\") == Answer::No)\n        return true;",
     "\"main program asked about as ours\") == Answer::No)\n        return query.IsValid();", "close_programs"),
    ("unidentified-main-program-left", "engine/CloseRunningPrograms.cpp",
     "\"main program asked about as ours\") == Answer::No)", "\"main program asked about as ours\") != Answer::Yes)",
     "close_programs"),
    ("elevated-main-program-not-waited-for", "engine/CloseRunningPrograms.cpp",
     "    if (!process.IsValid())\n        process = CHandle(OpenProcess(SYNCHRONIZE, FALSE, processId));\n", "",
     "close_programs"),
    ("unended-main-program-a-failure", "engine/CloseRunningPrograms.cpp",
     "        if (bForce && !TerminateProcess(process, 1))\n",
     "        if (bForce && !TerminateProcess(process, 1))\n            return false;\n        if (false)\n",
     "close_programs"),
    # Worker
    ("programs-closed-before-downloads", "engine/UpdateWorker.cpp",
     "    post(UM_PACKAGE_STATE, 0, 0);\n",
     "    if (!CloseRunningPrograms(engine.m_hNotifyWnd, engine.m_strModuleName, engine.m_strFolder + \"Vantorel.exe\"))\n"
     "        return fail(UM_UPDATE_ERROR, 30, 0);\n    post(UM_PACKAGE_STATE, 0, 0);\n", "update_worker"),
    ("folder-kept-after-success", "engine/UpdateWorker.cpp",
     "        post(UM_UPDATE_RESULT, phase, 0);\n        locks.clear();\n        folder.Remove();\n",
     "        post(UM_UPDATE_RESULT, phase, 0);\n        locks.clear();\n", "update_worker"),
    ("leftovers-not-cleared", "engine/UpdateWorker.cpp",
     "    // Whatever an earlier run left behind goes first.\n    folder.Remove();\n", "", "update_worker"),
    ("package-not-waited-for", "engine/UpdateWorker.cpp",
     "    WaitForSingleObject(hProcess, INFINITE);\n", "", "update_worker"),
    ("dot-dot-package-name", "engine/UpdateInfo.cpp",
     "if (name.empty() || name.find_first_of", "if (name.find_first_of", "update_worker"),
    ("backslash-package-name", "engine/UpdateInfo.cpp",
     'find_first_of("\\\\:")', 'find_first_of(":")', "update_worker"),
    ("packages-started-after-a-quit", "engine/UpdateWorker.cpp", "    if (engine.m_bCancel)\n        return fail(UM_PACKAGE_STATE, 20, DOWNLOAD_CANCELLED);\n", "", "update_worker"),
    ("asked-again-after-a-quit", "engine/CloseRunningPrograms.cpp", "        if (pCancel && *pCancel)\n            return false;\n", "",
     "update_worker"),
    ("start-keeps-cancel", "engine/UpdateWorker.cpp", "    m_bCancel = false;\n", "", "update_worker"),
    ("package-done-not-posted", "engine/UpdateWorker.cpp",
     "        sizes.push_back(engine.m_nReceived);\n        post(UM_PACKAGE_STATE, 10, 0);",
     "        sizes.push_back(engine.m_nReceived);", "update_worker"),
    # Package trust
    ("trust-main-signature-ignored", "engine/PackageTrust.cpp",
     "m_bSigned = signature != FileRead::None;", "m_bSigned = false;", "update_worker"),
    ("trust-damaged-main-unsigned", "engine/PackageTrust.cpp",
     "m_bSigned = signature != FileRead::None;",
     "m_bSigned = signature != FileRead::None && !SignerSubject(Widen(mainProgram, CP_ACP)).empty();",
     "update_worker"),
    ("trust-unreadable-main-unsigned", "engine/PackageTrust.cpp", "m_bSigned = signature != FileRead::None;",
     "m_bSigned = signature == FileRead::Found;", "update_worker"),
    # Not listed: ignoring the verification's own result. Under Wine a verification that
    # fails (an altered file) stops before the signer's chain is built, so the checks
    # on that chain refuse the package anyway.
    ("trust-names-not-compared", "engine/PackageTrust.cpp",
     "if (verdict.m_subject != m_subject) {", "if (false) {", "update_worker"),
    # Not listed: ignoring the Authenticode chain policy. Under Wine every case it refuses
    # (an expired signer) the chain's own error status refuses too.
    ("trust-chain-status-ignored", "engine/PackageTrust.cpp",
     "&& (pChain->TrustStatus.dwErrorStatus & ~tolerated) == 0", "", "update_worker"),
    ("trust-usage-not-required", "engine/PackageTrust.cpp", "bSound && NamesCodeSigning(pSigner)",
     "bSound", "update_worker"),
    # No rollback to an older installer of this product
    ("rollback-file-version-compared", "engine/VersionResource.cpp",
     "fixed.dwProductVersionMS) << 32 | fixed.dwProductVersionLS",
     "fixed.dwFileVersionMS) << 32 | fixed.dwFileVersionLS", "update_worker"),
    ("rollback-equal-refused", "engine/PackageTrust.cpp", "resource.m_nProductVersion >= m_nVersion",
     "resource.m_nProductVersion > m_nVersion",
     "update_worker"),
    ("rollback-name-case-compared", "engine/PackageTrust.cpp", "SameText(name, product)", "name == product",
     "update_worker"),
    ("rollback-surrounding-blanks-kept", "engine/PackageTrust.cpp", 'kBlanks[] = L" \\t', 'kBlanks[] = L"\\0',
     "update_worker"),
    ("rollback-only-ascii-blanks-trimmed", "engine/PackageTrust.cpp", '\\u00a0\\u3000";', '";', "update_worker"),
    ("rollback-first-product-name-only", "engine/PackageTrust.cpp", "for (const std::wstring& name : names)",
     "for (const std::wstring& name : names.empty() ? names : std::vector<std::wstring>{names[0]})",
     "update_worker"),
    ("rollback-main-first-product-name-only", "engine/PackageTrust.cpp", "m_products = ProductNames(resource);",
     "m_products = ProductNames(resource);\n            m_products.resize(m_products.empty() ? 0 : 1);",
     "update_worker"),
    ("rollback-second-package-not-judged", "engine/UpdateWorker.cpp",
     "if (!judged.Runs())", "if (!judged.Runs() && i == 0)",
     "update_worker"),
    ("trust-checked-after-closing", "engine/UpdateWorker.cpp",
     "    const CPackageTrust trust(",
     "    CloseRunningPrograms(engine.m_hNotifyWnd, engine.m_strModuleName, engine.m_strFolder + \"Vantorel.exe\");\n"
     "    const CPackageTrust trust(", "update_worker"),
    ("locked-packages-kept-at-failure", "engine/UpdateWorker.cpp",
     "        post(message, phase, result);\n        locks.clear();\n", "        post(message, phase, result);\n",
     "update_worker"),
    ("elevation-not-tried", "engine/UpdateWorker.cpp",
     "if (error != ERROR_ELEVATION_REQUIRED) {", "if (true) {", "update_worker"),
    ("refused-prompt-goes-on", "engine/UpdateWorker.cpp",
     "{{\"file\", file}, {\"error\", startError}});\n            return false;\n        }\n        hProcess",
     "{{\"file\", file}, {\"error\", startError}});\n            return true;\n        }\n        hProcess", "update_worker"),
    ("package-unlocked-before-start", "engine/UpdateWorker.cpp", "        if (!RunPackage(files[i], locks[i]))",
     "        if (locks[i].Close(), !RunPackage(files[i], locks[i]))", "update_worker"),
    # Texts on a system whose code page is not 936
    ("texts-never-wide", "framework/UserText.cpp", "return ::GetACP() != 936;", "return false;", "notifier|app"),
    ("question-box-narrow", "engine/CloseRunningPrograms.cpp", "UserMessageBox(ownerWindow,",
     "MessageBoxA(ownerWindow,", "app"),
    ("start-up-box-narrow", "app/UpdaterApp.cpp", "UserMessageBox(nullptr, text, nullptr, MB_OK);",
     "::MessageBoxA(nullptr, text, nullptr, MB_OK);", "app"),
    ("button-caption-narrow", "ui/TaskbarNotifier.cpp", "    SetUserWindowText(m_btnCancel.m_hWnd, \"取消升级\");\n", "",
     "notifier"),
    ("fonts-without-the-characters", "framework/UserText.cpp",
     "return TextsNeedWideCalls() ? GB2312_CHARSET : DEFAULT_CHARSET;", "return DEFAULT_CHARSET;", "notifier"),
    # Engine set-up
    ("file-version-instead-of-product", "engine/UpdateEngine.cpp",
     "ms = info->dwProductVersionMS;\n    ls = info->dwProductVersionLS;",
     "ms = info->dwFileVersionMS;\n    ls = info->dwFileVersionLS;", "engine_core"),
    ("third-component-from-low-word", "engine/UpdateEngine.cpp",
     "const DWORD third = HIWORD(productVersionLS);", "const DWORD third = LOWORD(productVersionLS);",
     "engine_core"),
    ("minor-not-checked", "engine/UpdateEngine.cpp",
     "if (major > 255 || minor > 255)", "if (major > 255)", "engine_core"),
    ("number-text-without-leading-zeros", "framework/UserText.cpp", "static_cast<int>(digits.size()) < width",
     "(static_cast<int>(digits.size()) < width && digits.empty())", "engine_core"),
    ("negative-number-without-minus", "framework/UserText.cpp", 'return (n < 0 ? "-" : "")', 'return std::string("")',
     "engine_core"),
    ("version-query-unpadded", "engine/UpdateEngine.cpp", "HexText(m_dwVersion, 8)", "HexText(m_dwVersion)",
     "engine_core"),
    ("settings-without-nul-refused", "engine/UpdateEngine.cpp", "if (!nul && size == sizeof buffer)", "if (!nul)",
     "engine_core"),
    ("destructor-waits-without-messages", "engine/UpdateEngine.cpp",
     "while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {",
     "while (WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 + 1) {", "update_worker"),
    ("settings-value-ignored", "engine/UpdateEngine.cpp",
     "    else if (!ReadSettingsUrl(m_strInfoUrl))\n", "    else if (true)\n", "engine_core"),
    # Framework
    ("no-reflection", "framework/Wnd.cpp",
     "if (!(bChained && ReflectToControl(message, wParam, lParam, &result)))", "if (true)", "framework"),
    ("reflection-never-consumed", "framework/Wnd.cpp",
     "    *pResult = message == WM_DRAWITEM ? TRUE : 0;\n    return true;", "    return false;", "framework"),
    ("foreign-control-reflected", "framework/Wnd.cpp",
     "if (!hControl || ::GetParent(hControl) != m_hWnd)", "if (!hControl)", "framework"),
    ("current-message-not-restored", "framework/Wnd.cpp", "    m_current = previous;\n", "", "framework"),
    ("final-message-during-the-handler", "framework/Wnd.cpp", "if (pWnd->m_nDispatchDepth == 0) {", "if (true) {",
     "framework"),
    ("exception-leaves-the-procedure", "framework/Wnd.cpp",
     "} catch (...) {", "} catch (const std::bad_alloc&) {", "framework"),
    ("not-detached-at-ncdestroy", "framework/Wnd.cpp",
     "    pWnd->Detach();\n", "", "framework"),
    ("region-released-on-failure", "framework/Wnd.cpp",
     "    if (!::SetWindowRgn(m_hWnd, rgn, bRedraw))\n        return FALSE;\n",
     "    ::SetWindowRgn(m_hWnd, rgn, bRedraw);\n", "framework"),
    ("object-written-after-final-message", "framework/Wnd.cpp",
     "        pWnd->m_hWndFinal = nullptr;\n        pWnd->OnFinalMessage(hWnd); // may delete the object\n",
     "        pWnd->OnFinalMessage(hWnd); // may delete the object\n        pWnd->m_hWndFinal = nullptr;\n",
     "framework"),
    ("move-keeps-the-source", "framework/GdiObjects.h",
     "CGdiObjectT(CGdiObjectT&& other) noexcept : m_hObject(other.Detach()) {}",
     "CGdiObjectT(CGdiObjectT&& other) noexcept : m_hObject(other.m_hObject) {}", "framework"),
    ("replaced-handle-leaked", "framework/GdiObjects.h",
     "        if (h != m_hObject) {\n            DeleteObject();\n", "        if (h != m_hObject) {\n",
     "framework"),
    ("select-guard-does-not-restore", "framework/DeviceContexts.h",
     "            ::SelectObject(m_hDC, m_hOld);\n", "            ;\n", "framework"),
    ("dc-scope-does-not-restore", "framework/DeviceContexts.h",
     "            ::RestoreDC(m_hDC, m_nSaved);\n", "            ;\n", "framework|skin_button|notifier"),
    # Skinned button
    ("region-run-one-pixel-wide", "ui/SkinButton.cpp",
     "RECT{nStart, y, x, y + 1}", "RECT{nStart, y, x + 1, y + 1}", "skin_button"),
    ("region-last-column-dropped", "ui/SkinButton.cpp",
     "for (int x = 0; x <= nWidth; ++x)", "for (int x = 0; x < nWidth; ++x)", "skin_button"),
    ("region-growth-copies-half", "ui/RegionRects.cpp",
     "std::memcpy(pGrown.get(), m_pData.get(), BytesFor(m_nBlocks));",
     "std::memcpy(pGrown.get(), m_pData.get(), BytesFor(m_nBlocks) / 2);", "skin_button"),
    ("region-parts-leaked", "ui/SkinButton.cpp",
     "result.CombineRgn(result, part, RGN_OR);", "result.CombineRgn(result, part, RGN_OR);\n        part.Detach();",
     "skin_button"),
    ("draw-modes-swapped", "ui/SkinButton.cpp",
     "    if (nDrawMode == 2) {\n        TileBitmap", "    if (nDrawMode == 1) {\n        TileBitmap",
     "skin_button"),
    ("kind-from-wrong-bits", "ui/SkinButton.cpp", "(s & 9) == 9 ? kKindRadio", "(s & 4) == 4 ? kKindRadio",
     "skin_button"),
    ("owner-draw-or-ed-in", "ui/SkinButton.cpp",
     "ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW);", "ModifyStyle(0, BS_OWNERDRAW);", "skin_button"),
    ("radio-group-not-unchecked", "ui/SkinButton.cpp",
     "    if (m_nKind == kKindRadio && m_bChecked)\n        UncheckGroup();\n", "", "skin_button"),
    ("checked-not-drawn-pressed", "ui/SkinButton.cpp",
     "} else if ((nState & ODS_SELECTED) || m_bChecked) {", "} else if (nState & ODS_SELECTED) {",
     "skin_button"),
    ("disabled-caption-not-grey", "ui/SkinButton.cpp",
     "        crCaption = ::GetSysColor(COLOR_GRAYTEXT);\n", "", "skin_button"),
    ("pressed-caption-not-moved", "ui/SkinButton.cpp", "        ::OffsetRect(&t, ScalePixels(1, m_nDpi), ScalePixels(1, m_nDpi));\n", "",
     "skin_button"),
    ("focus-rectangle-off-inset", "ui/SkinButton.cpp",
     "::InflateRect(&r, -m_nFocusInset, -m_nFocusInset);",
     "::InflateRect(&r, -m_nFocusInset - 1, -m_nFocusInset - 1);", "skin_button"),
    ("disabled-slot-left-empty", "ui/SkinButton.cpp",
     "nDisabled ? nDisabled : nNormal, nFocus};", "nDisabled, nFocus};",
     "skin_button"),
    ("copy-mode-not-clipped", "ui/SkinButton.cpp", "        ::SelectClipRgn(hDC, clip);\n", "",
     "skin_button"),
    ("last-tile-not-cut", "ui/SkinButton.cpp",
     "const int nTileWidth = std::min<int>(bm.bmWidth, rc.right - x);", "const int nTileWidth = bm.bmWidth;",
     "skin_button"),
    ("double-click-not-a-press", "ui/SkinButton.cpp",
     "        SendMessage(WM_LBUTTONDOWN, wParam, lParam);\n        return 0;", "        return Default();",
     "skin_button"),
    ("relay-point-unsigned", "ui/SkinButton.cpp",
     "{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}}", "{LOWORD(lParam), HIWORD(lParam)}}", "skin_button"),
    ("space-toggles-a-radio", "ui/SkinButton.cpp",
     "VK_SPACE)\n        SendMessage(BM_SETCHECK, m_nKind == kKindCheckBox ? !m_bChecked : 1);",
     "VK_SPACE)\n        SendMessage(BM_SETCHECK, !m_bChecked);", "skin_button"),
    ("check-changes-after-the-click", "ui/SkinButton.cpp",
     "    if (m_nKind != kKindPush && IsButtonAtClientPoint(lParam))\n"
     "        SendMessage(BM_SETCHECK, m_nKind == kKindCheckBox ? !m_bChecked : 1);\n"
     "    Relay(WM_LBUTTONUP, wParam, lParam);\n    m_bMouseDown = false;\n    return Default();",
     "    Relay(WM_LBUTTONUP, wParam, lParam);\n    m_bMouseDown = false;\n"
     "    const LRESULT result = Default();\n"
     "    if (m_nKind != kKindPush && IsButtonAtClientPoint(lParam))\n"
     "        SendMessage(BM_SETCHECK, m_nKind == kKindCheckBox ? !m_bChecked : 1);\n    return result;",
     "skin_button"),
    # Notifier
    ("popup-takes-the-keyboard", "ui/TaskbarNotifier.cpp", "ShowWindow(SW_SHOWNOACTIVATE);", "ShowWindow(SW_SHOW);",
     "notifier"),
    ("progress-not-repainted", "ui/TaskbarNotifier.cpp",
     "&& ::IsWindowVisible(m_hWnd))\n        Repaint();", "&& ::IsWindowVisible(m_hWnd))\n        ;", "notifier"),
    ("left-taskbar-taken-for-right", "ui/TaskbarNotifier.cpp", "if (nWorkWidth < nScreenWidth && work.left == 0)",
     "if (nWorkWidth < nScreenWidth)", "notifier"),
    ("slide-in-ends-a-step-early", "ui/TaskbarNotifier.cpp", ": m_nCurY <= m_nStartY - H;", ": m_nCurY < m_nStartY - H;",
     "notifier"),
    ("no-skin-divides-by-zero", "ui/TaskbarNotifier.cpp", "        if (nTicks <= 0)\n            return;", "",
     "notifier"),
    ("no-jump-back-when-shown-while-leaving", "ui/TaskbarNotifier.cpp", "        Place();\n        Repaint();\n        break;",
     "        Repaint();\n        break;", "notifier"),
    ("bar-width-not-rounded", "ui/TaskbarNotifier.cpp", "* m_nReceived / m_nTotal + 0.5);", "* m_nReceived / m_nTotal);",
     "notifier"),
    ("percent-rounded-down", "ui/TaskbarNotifier.cpp", "(200LL * m_nReceived + m_nTotal) / (2LL * m_nTotal)",
     "100LL * m_nReceived / m_nTotal", "notifier"),
    ("skin-width-cut-to-a-multiple-of-four", "ui/TaskbarNotifier.cpp", "*pWidth = static_cast<WORD>(bm.bmWidth);",
     "*pWidth = static_cast<WORD>(bm.bmWidth & ~3);", "notifier"),
    ("skin-rows-read-unpadded", "ui/TaskbarNotifier.cpp", "pBits.get() + y * RowBytes24(nWidth)",
     "pBits.get() + y * nWidth * 3", "notifier"),
    ("clicked-on-the-press", "ui/TaskbarNotifier.cpp", "    case WM_LBUTTONUP:\n        if (m_pOwner)",
     "    case WM_LBUTTONDOWN:\n        if (m_pOwner)", "notifier"),
    ("cancel-not-forwarded", "ui/TaskbarNotifier.cpp", "            OnCancelUpdate();\n            return 0;",
     "            return 0;", "notifier"),
    # Display scaling
    ("manifest-not-aware-per-monitor", "res/Updater.manifest", "PerMonitorV2, PerMonitor", "unaware",
     "executables_import"),
    ("skin-not-scaled", "ui/TaskbarNotifier.cpp", "LoadScaledBitmap(m_nSkinID, nDpi, m_crKey)",
     "LoadScaledBitmap(m_nSkinID, kDefaultDpi, m_crKey)", "notifier"),
    ("single-size-art-stretched", "ui/Scaling.cpp", "twice.LoadBitmap((nID & 0xFFFF) + IDB_DOUBLE_SIZE)", "false",
     "notifier"),
    ("region-from-the-unscaled-skin", "ui/TaskbarNotifier.cpp", "CRgn rgn(BuildSkinRegion(m_bmpSkin,",
     "CBitmap unscaled(LoadScaledBitmap(m_nSkinID, kDefaultDpi, m_crKey));\n        CRgn rgn(BuildSkinRegion(unscaled,",
     "notifier"),
    ("dpi-change-ignored", "ui/TaskbarNotifier.cpp", "        OnDpiChanged();\n", "", "notifier"),
    ("dpi-of-the-monitor-under-the-popup", "ui/TaskbarNotifier.cpp", "        OnDpiChanged();\n",
     "        Layout(LOWORD(wParam));\n", "notifier"),
    ("bar-not-scaled", "ui/TaskbarNotifier.cpp", "::OffsetRect(&r, 0, Scaled(16));", "::OffsetRect(&r, 0, 16);",
     "notifier"),
    ("buttons-not-scaled", "ui/TaskbarNotifier.cpp", "MoveWindow(Scaled(nLeft[i]), Scaled(70),",
     "MoveWindow(nLeft[i], 70,", "notifier"),
    ("slide-past-a-scaled-edge", "ui/TaskbarNotifier.cpp",
     "std::min(nCur + Scaled(m_nStep), nEnd) : std::max(nCur - Scaled(m_nStep), nEnd)",
     "nCur + Scaled(m_nStep) : nCur - Scaled(m_nStep)", "notifier"),
    ("scaled-key-pixels-averaged", "ui/Scaling.cpp", "Resample(src, from, to, crKey)",
     "Resample(src, from, to, CLR_INVALID)", "notifier"),
    ("key-blends-into-the-reduced-skin", "ui/Scaling.cpp", "                    if (c == key)\n                        continue;\n",
     "", "notifier"),
    ("scaled-art-source-leaked", "ui/Scaling.cpp", "Pixels(art, from)", "Pixels(art.Detach(), from)", "notifier"),
    ("paint-structure-cleared", "framework/DeviceContexts.h", "{ Begin(::BeginPaint(hWnd, &m_ps)); }",
     "{\n        Begin(::BeginPaint(hWnd, &m_ps));\n        m_ps = {};\n    }", "notifier"),
    # What a screen reader hears and the keyboard's way into the popup
    ("name-never-set", "ui/TaskbarNotifier.cpp", "    SetUserWindowText(m_hWnd, name.c_str());\n", "", "app"),
    ("name-keeps-the-line-break", "ui/TaskbarNotifier.cpp", "std::string name = WithoutFinalLineBreak(m_strText);",
     "std::string name = m_strText;", "app"),
    ("name-without-the-percentage", "ui/TaskbarNotifier.cpp", "        name += \" \" + PercentText();\n", "", "app"),
    ("name-not-following-the-bar", "ui/TaskbarNotifier.cpp",
     "    if (::IsWindowVisible(m_hWnd))\n        Repaint();\n    UpdateName();", "    if (::IsWindowVisible(m_hWnd))\n        Repaint();",
     "app"),
    ("name-change-every-second", "ui/TaskbarNotifier.cpp", "    if (name == m_strName)\n        return;", "", "app"),
    ("alert-per-percentage", "ui/TaskbarNotifier.cpp",
     "    ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, m_hWnd, OBJID_CLIENT, CHILDID_SELF);",
     "    ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, m_hWnd, OBJID_CLIENT, CHILDID_SELF);\n"
     "    ::NotifyWinEvent(EVENT_SYSTEM_ALERT, m_hWnd, OBJID_CLIENT, CHILDID_SELF);", "app"),
    ("status-not-alerted", "ui/TaskbarNotifier.cpp",
     "    ::NotifyWinEvent(EVENT_SYSTEM_ALERT, m_hWnd, OBJID_CLIENT, CHILDID_SELF);\n", "", "app"),
    ("popup-role-not-alert", "ui/TaskbarNotifier.cpp", "ROLE_SYSTEM_ALERT, &result)", "ROLE_SYSTEM_CLIENT, &result)",
     "app"),
    ("window-object-left-to-the-system", "framework/Accessible.cpp",
     "if (idObject != OBJID_CLIENT && idObject != OBJID_WINDOW)", "if (idObject != OBJID_CLIENT)", "app"),
    ("buttons-not-reachable", "framework/Accessible.cpp",
     "*pn = static_cast<LONG>(ChildWindows(m_hWnd).size());", "*pn = 0;", "app"),
    ("button-role-not-push-button", "ui/SkinButton.cpp", ": ROLE_SYSTEM_PUSHBUTTON;", ": ROLE_SYSTEM_CLIENT;", "app"),
    ("object-answers-after-its-window", "framework/Accessible.cpp", "bool Gone() const { return !::IsWindow(m_hWnd); }",
     "bool Gone() const { return false; }", "app"),
    ("disabled-not-unavailable", "framework/Accessible.cpp", "            state |= STATE_SYSTEM_UNAVAILABLE;\n",
     "            ;\n", "app"),
    ("key-select-ignored", "ui/UpdaterDlg.cpp", "if (lParam == NIN_KEYSELECT || (lParam == WM_CONTEXTMENU",
     "if ((lParam == WM_CONTEXTMENU", "app"),
    ("right-click-takes-the-focus", "ui/UpdaterDlg.cpp", "(lParam == WM_CONTEXTMENU && !bMenuByMouse)",
     "lParam == WM_CONTEXTMENU", "app"),
    ("focus-not-on-cancel", "ui/TaskbarNotifier.cpp", "    ::SetFocus(m_btnCancel.m_hWnd);\n", "", "app"),
    ("slides-out-holding-the-focus", "ui/TaskbarNotifier.cpp", "        if (HoldsKeyboard())\n            return; // the stay",
     "        if (false)\n            return; // the stay", "app"),
    ("popup-gets-no-dialog-keys", "ui/TaskbarNotifier.cpp", "WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT", "WS_EX_TOOLWINDOW",
     "app"),
    ("esc-not-handled", "ui/TaskbarNotifier.cpp", "        if (LOWORD(wParam) == IDCANCEL)\n            OnEscape();",
     "        if (false)\n            OnEscape();", "app"),
    ("focus-not-given-back", "ui/TaskbarNotifier.cpp", "        ::SetForegroundWindow(m_hWndReturn);\n", "        ;\n", "app"),
    ("enter-not-handled", "ui/TaskbarNotifier.cpp", "        else if (LOWORD(wParam) == IDOK)\n            OnEnter();\n", "",
     "app"),
    # Administrators' policies and the support log
    ("policy-ignored-at-logon", "app/UpdaterApp.cpp", "if (quiet && !m_policies.Allow(true)) {", "if (false) {", "app"),
    ("by-hand-only-is-off", "app/Policies.h", "!(quiet && m_dwUpdateDefault == UPDATES_BY_HAND)",
     "m_dwUpdateDefault != UPDATES_BY_HAND", "app"),
    ("user-policy-wins", "app/Policies.cpp", "{HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}",
     "{HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}", "app"),
    ("policy-url-ignored", "engine/UpdateEngine.cpp", "if (!policyUrl.empty())", "if (false)", "app"),
    ("policy-failed-read-used", "app/Policies.cpp", "if (rc == ERROR_SUCCESS && value <= CPolicies::UPDATES_BY_HAND)",
     "if (rc != ERROR_FILE_NOT_FOUND && value <= CPolicies::UPDATES_BY_HAND)", "app"),
    ("policy-url-scheme-not-checked", "app/Policies.cpp", ": !IsDownloadUrl(url)", ": false", "app"),
    ("updates-off-checks-by-hand", "ui/UpdaterDlg.cpp", "const char* ended = m_bUpdatesOff ?",
     "const char* ended = false ?", "app"),
    ("log-never-rotated", "engine/UpdateLog.cpp", "> kRotateAt)", "> 100 * kRotateAt)", "app"),
    # Not listed: rotating without the lock. Two starts would have to check the size at
    # the same moment; no test can make that happen on purpose.
    ("log-line-breaks-kept", "engine/UpdateLog.cpp", "if (c == L'\\r' || c == L'\\n')", "if (false)",
     "engine_core"),
    ("log-quote-not-escaped", "engine/UpdateLog.cpp", "if (c == L'\"' || c == L'\\\\')", "if (c == L'\\\\')",
     "engine_core"),
    ("log-backslash-not-escaped", "engine/UpdateLog.cpp", "if (c == L'\"' || c == L'\\\\')", "if (c == L'\"')",
     "engine_core"),
    ("log-system-strings-read-as-936", "engine/UpdateLog.cpp", "USER_TEXT ? 936 : CP_ACP", "USER_TEXT ? 936 : 936",
     "engine_core"),
    ("log-user-texts-read-as-ansi", "engine/UpdateLog.cpp", "USER_TEXT ? 936 : CP_ACP",
     "USER_TEXT ? CP_ACP : CP_ACP", "engine_core"),
    ("log-credentials-to-the-first-at", "engine/UpdateLog.cpp", "text.rfind(L'@', hostEnd - 1)",
     "text.find(L'@', hostStart)", "engine_core"),
    ("log-proxy-credentials-kept", "engine/UpdateLog.cpp", ": text.find(L'=') + 1;", ": text.size();",
     "engine_core"),
    ("log-query-values-kept", "engine/UpdateLog.cpp", ": param.substr(0, eq) + L\"=*\"", ": param",
     "engine_core"),
    ("log-version-query-masked", "engine/UpdateLog.cpp", "param.compare(1, eq - 1, L\"v\") == 0",
     "false", "engine_core"),
    ("log-written-through-another-link", "engine/UpdateLog.cpp", "&& info.nNumberOfLinks == 1", "",
     "engine_core"),
    ("log-grows-past-two-mib", "engine/UpdateLog.cpp", "< kStopAt)", "< 100 * kStopAt)", "engine_core"),
    ("log-without-exit-codes", "engine/UpdateWorker.cpp",
     '    LogEvent("package-ended", {{"file", file}, {"code", bEnded ? code : -1LL}});\n', "", "app"),
    # Deployment: scratch place, one updater at a time, cancel, relaunch through any folder
    ("scratch-place-not-used", "app/UpdaterApp.cpp",
     "    if (prepared != RelaunchPrepared::Ready) {\n        const std::string scratch",
     "    if (false) {\n        const std::string scratch", "app"),
    ("copy-ignores-the-installation", "app/UpdaterApp.cpp",
     "AnsiPath(std::wstring(wide, n), folder) ? folder : std::string();", "false ? folder : std::string();",
     "app"),
    # The narrow call cuts a folder with two-byte characters short under Wine.
    ("installation-folder-read-narrow", "app/UpdaterApp.cpp",
     "    const std::string installed = InstallFolderFromEnvironment();\n",
     "    char narrow[MAX_PATH];\n    const DWORD n = ::GetEnvironmentVariableA(kInstallFolderVariable, narrow, MAX_PATH);\n"
     "    const std::string installed(narrow, n < MAX_PATH ? n : 0);\n", "app"),
    # A folder the ANSI code page cannot name (Chinese on 1252): the narrow call gives '?'.
    ("own-path-read-narrow", "app/UpdaterApp.cpp", "    if (!ModulePath(self)) {",
     "    char narrow[MAX_PATH];\n    self.assign(narrow, GetModuleFileNameA(nullptr, narrow, MAX_PATH));\n"
     "    if (self.empty()) {", "app"),
    ("unnamed-folder-not-shortened", "framework/UserText.cpp",
     "if (!Narrow(wide.substr(start, end - start), CP_ACP, name)) {",
     "if (!Narrow(wide.substr(start, end - start), CP_ACP, name) && false) {", "app"),
    ("copy-suffix-compared-with-case", "app/UpdaterApp.cpp", 'lstrcmpiA(self.c_str() + tail, "_BAK.EXE")',
     'lstrcmpA(self.c_str() + tail, "_BAK.EXE")', "app"),
    ("running-copy-not-asked", "app/UpdaterApp.cpp",
     "if (!turn.Held() || !MakeWayForStart(installFolder, std::strcmp(m_lpCmdLine, \"1\") != 0))",
     "if (!turn.Held())", "app"),
    ("tray-copy-does-not-make-way", "ui/UpdaterDlg.cpp", "    if (m_phase == RunPhase::Over) {", "    if (false) {",
     "app"),
    ("copy-at-work-makes-way", "ui/UpdaterDlg.cpp", "    if (m_phase == RunPhase::Over) {", "    if (true) {", "app"),
    # Starts not taking turns (the start lock made a no-op) is not listed: two starts at
    # the same moment under Wine reach the run lock one after the other anyway.
    ("old-script-not-awaited", "app/Instances.cpp", "(FileExists(copy) || FileExists(script))", "false", "app"),
    ("cancel-leaves-the-socket-open", "engine/UpdateEngine.cpp",
     "        closesocket(m_socket);\n        m_socket = INVALID_SOCKET;\n", "", "engine_core|app"),
    ("script-in-the-ansi-code-page", "app/RelaunchScript.cpp", "if (!ToOemCodePage(text))", "if (false)", "app"),
    ("copy-percent-single", "app/RelaunchScript.cpp", "const std::string copy = DoublePercent(copyPath);",
     "const std::string copy = copyPath;", "app"),
    ("script-deleted-by-its-expanded-name", "app/RelaunchScript.cpp", "scriptPath.find('%') == std::string::npos ?",
     "true ?", "app"),
    ("argument-percent-single", "app/RelaunchScript.cpp", "        if (c == '%')\n            escaped += '%';",
     "        if (false)\n            escaped += '%';", "app"),
    ("caret-not-escaped", "app/RelaunchScript.cpp", 'std::strchr("&|<>^()", c)', 'std::strchr("&|<>()", c)', "app"),
    ("quotes-not-followed", "app/RelaunchScript.cpp", "            bQuoted = !bQuoted;\n", "", "app"),
    ("line-break-passed-on", "app/RelaunchScript.cpp", "if (c == '\\r' || c == '\\n' || c == '\\0')",
     "if (c == '\\0')", "app"),
    # Not listed: the interpreter started without /v:off. Wine's interpreter does not read
    # the registry's DelayedExpansion, so a '!' in a folder name relaunches either way.
    # The main dialog
    ("quiet-mode-never-chosen", "ui/UpdaterDlg.cpp", 'm_bShowPopups = !(pApp && std::strcmp(pApp->m_lpCmdLine, "1") == 0);',
     "m_bShowPopups = true;", "app"),
    ("quiet-package-phase-unseen", "ui/UpdaterDlg.cpp", "if (m_bShowPopups || InPackagePhase())",
     "if (m_bShowPopups)", "app"),
    ("progress-timer-never-started", "ui/UpdaterDlg.cpp", "        SetTimer(kProgressTimer, 1000);\n", "", "app"),
    ("second-package-without-progress", "ui/UpdaterDlg.cpp",
     "        if (wParam == 0 && InPackagePhase())\n            SetPhase(RunPhase::PackageDownload);\n", "", "app"),
    ("final-text-under-the-bar", "ui/UpdaterDlg.cpp",
     "if (message == UM_UPDATE_ERROR || message == UM_UPDATE_RESULT\n        || (", "if ((", "app"),
    ("progress-timer-never-stopped", "ui/UpdaterDlg.cpp", "    KillTimer(kProgressTimer);\n    ShowProgress();",
     "    ShowProgress();", "app"),
    ("bar-stays-when-the-download-ends", "ui/UpdaterDlg.cpp", "    KillTimer(kProgressTimer);\n    ShowProgress();",
     "    KillTimer(kProgressTimer);", "app"),
    ("failure-texts-swapped", "ui/UpdaterDlg.cpp",
     "lResult == DOWNLOAD_FAILED ? \"下载过程中出现错误", "lResult == DOWNLOAD_TRANSFER ? \"下载过程中出现错误", "app"),
    ("status-code-left-out", "ui/UpdaterDlg.cpp", "NumberText(static_cast<int>(lResult))", "NumberText(0)",
     "app"),
    ("quiet-failure-stays", "ui/UpdaterDlg.cpp",
     "    if (!m_bShowPopups) {\n        QuitUpdater();\n        return;\n    }\n", "", "app"),
    ("quiet-latest-stays", "ui/UpdaterDlg.cpp", "if (wParam == 0 && !m_bShowPopups)", "if (false)", "app"),
    ("cancel-does-not-quit", "ui/UpdaterDlg.cpp", "            QuitUpdater();\n            return 0;",
     "            return 0;", "app"),
    ("tray-icon-left-behind", "ui/UpdaterDlg.cpp", "    m_engine.Cancel();\n    NotifyTray(NIM_DELETE);\n",
     "    m_engine.Cancel();\n", "app"),
    # Package outcomes and bounds on what a server sends
    ("exit-code-ignored", "engine/UpdateWorker.cpp",
     "return bEnded && (code == 0 || code == 3010 || code == 1641);", "return true;",
     "update_worker"),
    ("restart-needed-is-a-failure", "engine/UpdateWorker.cpp", "(code == 0 || code == 3010 || code == 1641)",
     "(code == 0)", "update_worker"),
    ("update-info-unbounded", "engine/HttpDownload.cpp", "if (length < 0 || length > maxLength)",
     "if (length < 0)", "update_worker"),
    ("update-info-bound-one-short", "engine/HttpDownload.cpp", "if (length < 0 || length > maxLength)",
     "if (length < 0 || length >= maxLength)", "update_worker"),
    ("package-count-unbounded", "engine/UpdateWorker.cpp", "urls.size() > kMaxPackages || ", "", "update_worker"),
    ("device-names-allowed", "engine/UpdateInfo.cpp", ' || IsDeviceName(name)', "", "update_worker"),
    ("device-name-with-extension-allowed", "engine/UpdateInfo.cpp", "name.substr(0, name.find('.'))", "name",
     "update_worker"),
    ("repeated-names-allowed", "engine/UpdateInfo.cpp",
     "        for (const std::string& earlier : names)\n            if (lstrcmpiA(earlier.c_str(), name.c_str()) == 0)\n                return false;\n", "",
     "update_worker"),
    ("repeated-names-by-case", "engine/UpdateInfo.cpp", "if (lstrcmpiA(earlier.c_str(), name.c_str()) == 0)",
     "if (earlier == name)", "update_worker"),
    ("repeated-names-by-another-spelling", "engine/UpdateWorker.cpp", "GENERIC_WRITE, 0, nullptr, CREATE_NEW,",
     "GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,", "update_worker"),
    ("repeated-names-with-trailing-blanks", "engine/UpdateInfo.cpp", "name.find_last_not_of(\". \")",
     "name.find_last_not_of('.')", "update_worker"),
    ("other-installation-closed", "engine/CloseRunningPrograms.cpp",
     "    if (IsOurs(processId, mainProgram, query, \"main program asked about as ours\") == Answer::No)\n        return true;\n",
     "", "close_programs"),
    ("other-file-taken-as-ours", "engine/CloseRunningPrograms.cpp",
     "id.volume == file.volume && id.high == file.high && id.low == file.low ? Answer::Yes : Answer::No",
     "Answer::Yes", "close_programs"),
    ("show-while-waiting-keeps-slide-out", "ui/TaskbarNotifier.cpp", "        KillTimer(TIMER_DISAPPEAR);\n        KillTimer(TIMER_STAY);",
     "        KillTimer(TIMER_STAY);", "notifier"),
    ("quiet-check-shows-download-done", "ui/UpdaterDlg.cpp",
     "        if (!m_bShowPopups && !InPackagePhase())\n            return;\n", "", "app"),
    # The system's HTTP stack: https, the user's proxy, servers that moved
    ("https-refused", "engine/HttpDownload.cpp", 'const bool bSecure = strncmp(url, "https://", 8) == 0;',
     "const bool bSecure = false;", "system_http"),
    ("user-proxy-ignored", "engine/HttpDownload.cpp", "const bool bProxy = !proxy.m_strProxy.empty();",
     "const bool bProxy = false;", "system_http"),
    ("bypass-list-ignored", "engine/SystemHttp.cpp",
     "settings.m_strProxy.empty() || Bypassed(HostOf(url), settings.m_strBypass)", "settings.m_strProxy.empty()",
     "system_http"),
    ("local-names-not-bypassed", "engine/SystemHttp.cpp", 'entry == "<local>" ? host.find(\'.\') == std::string::npos',
     'entry == "<local>" ? false', "system_http"),
    ("configuration-script-ignored", "engine/SystemHttp.cpp", "    if (!settings.m_strScript.empty()) {",
     "    if (false) {", "system_http"),
    ("direct-move-not-followed", "engine/HttpDownload.cpp",
     "        if (result == 301 || result == 302 || result == 303 || result == 307 || result == 308)",
     "        if (false)", "system_http"),
    ("sixth-move-followed", "engine/SystemHttp.cpp", "moves < kMaxMoves", "moves <= kMaxMoves", "system_http"),
    ("https-to-http-followed", "engine/SystemHttp.cpp", "&& (IsSecure(next) || !IsSecure(url))", "",
     "system_http"),
    ("certificate-refusal-as-transfer-failure", "engine/SystemHttp.cpp",
     "    case ERROR_WINHTTP_SECURE_FAILURE:\n    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:\n", "", "system_http"),
    # The stack's share of a request counted only once the context value has reached it:
    # a cancel in between lets the closing notice free the request, which the worker frees again.
    ("stack-reference-taken-late", "engine/SystemHttp.cpp",
     "    ++p->m_refs;\n    DWORD_PTR self = reinterpret_cast<DWORD_PTR>(p);\n    if (WinHttpSetStatusCallback(h, OnStatus,\n                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0)\n            != WINHTTP_INVALID_STATUS_CALLBACK\n        && g_pSetHttpOption(h, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self))\n        return p;\n",
     "    DWORD_PTR self = reinterpret_cast<DWORD_PTR>(p);\n    if (WinHttpSetStatusCallback(h, OnStatus,\n                                 WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES, 0)\n            != WINHTTP_INVALID_STATUS_CALLBACK\n        && g_pSetHttpOption(h, WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof self))\n        return ++p->m_refs, p;\n", "system_http"),
    ("logon-offered-to-a-server", "engine/SystemHttp.cpp", "if (status != 407 || !bViaProxy",
     "if ((status != 401 && status != 407) || !bViaProxy", "system_http"),
    ("proxy-logon-dropped", "engine/SystemHttp.cpp",
     "if (status != 407 || !bViaProxy || bLogonSet || !SetProxyLogon(h))", "if (true)", "system_http"),
    ("logon-offered-to-a-direct-407", "engine/SystemHttp.cpp", "if (status != 407 || !bViaProxy ||",
     "if (status != 407 ||", "system_http"),
    ("lookup-waited-out", "engine/UpdateEngine.cpp", "const bool done = WaitOrCancel(thread);",
     "const bool done = WaitForSingleObject(thread, INFINITE) == WAIT_OBJECT_0 && !m_bCancel;", "system_http"),
    # The release tool's own rules
    ("release-timestamp-not-warned", "release/CheckRelease.cpp", "if (package.m_bSigned && !package.m_signer.m_bTimestamped)",
     "if (false)", "release"),
    ("release-versions-compared-in-four-parts", "release/CheckRelease.cpp",
     "&& package.m_nVersion >> 16 == pMain->m_nVersion >> 16", "&& package.m_nVersion == pMain->m_nVersion", "release"),
    ("release-bridge-not-noted", "release/CheckRelease.cpp",
     "|| package.m_signer.m_subject == next.m_signer.m_subject)", "|| true)", "release"),
    ("release-current-answered-as-update", "release/ServerAnswers.cpp",
     "std::string alternatives = bAtOrAbove ? hex : std::string();", "std::string alternatives;", "release"),
    ("release-oldest-answered-too-old", "release/ServerAnswers.cpp", ": digits.substr(0, d);", ": digits.substr(0, d + 1);",
     "release"),
    ("release-names-not-checked", "release/ServerAnswers.cpp", "if (why.empty() && !PackageFileNames(urls, names))",
     "if (false)", "release"),
    ("release-short-names-not-checked", "release/ServerAnswers.cpp", "if (i != j && CouldBeShortName(names[i], names[j]))",
     "if (i != j && CouldBeShortName(names[i], names[j]) && false)", "release"),
    # Not listed: a cancel the system route does not wait for. The test's https server
    # trickles its body (nginx cannot stall one), so the next piece wakes the wait anyway.
]


def run(cmd, cwd, log, timeout=None):
    """Exit code of cmd, or None when it ran past `timeout` seconds and was ended."""
    with open(log, "a") as out:
        proc = subprocess.Popen(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, 9)
            proc.wait()
            # ctest cannot end a Windows program that hangs: end them all.
            subprocess.call(["wineserver", "-k"])
            return None


def main():
    src, build, log = sys.argv[1], sys.argv[2], sys.argv[3]
    # The first failing test ends its executable: a breakage that makes every later test
    # wait out its bounds is caught in seconds, not by the time limit.
    os.environ["GTEST_FAIL_FAST"] = "1"
    wanted = [w for w in (sys.argv[4] if len(sys.argv) > 4 else "").split(",") if w]
    caught = survived = stale = 0
    for name, path, before, after, tests in MUTANTS:
        if wanted and not any(w in name for w in wanted):
            continue
        full = os.path.join(src, path)
        with open(full, encoding="utf-8") as f:
            original = f.read()
        if original.count(before) != 1:
            print(f"{name:40} stale: the text to break is not found once in {path}", flush=True)
            stale += 1
            continue
        with open(full, "w", encoding="utf-8") as f:
            f.write(original.replace(before, after))
        try:
            with open(log, "a") as out:
                out.write(f"\n===== {name}\n")
            start = os.path.getsize(log)
            # The import check reads every built executable; the others are test executables.
            targets = ["all"] if tests == "executables_import" else [t + "_tests" for t in tests.split("|")]
            if run(["cmake", "--build", build, "--target"] + targets, src, log) != 0:
                verdict = "caught (does not build)"
            else:
                rc = run(["ctest", "--output-on-failure", "--no-tests=error", "-R", tests, "--timeout", "120"], build, log, timeout=150)
                verdict = "SURVIVED" if rc == 0 else "caught" if rc is not None else "caught (only by hanging)"
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        with open(log, encoding="utf-8", errors="replace") as f:
            f.seek(start)
            failing = sorted(set(re.findall(r"^\[  FAILED  \] (\S+?)(?:,| \(|$)", f.read(), re.M)))
        if verdict == "caught" and not failing:
            verdict = "caught (crashed or never ran)"  # worth a look in the log
        with open(log + ".json", "a") as f:
            f.write(json.dumps({"name": name, "verdict": verdict, "failing": failing}) + "\n")
        if verdict == "SURVIVED" or "hanging" in verdict:
            survived += 1
        else:
            caught += 1
        print(f"{name:40} {verdict:24} ({tests})", flush=True)
    run(["cmake", "--build", build], src, log)
    print(f"which tests caught which breakage: {log}.json")
    print(f"mutants: {caught} caught, {survived} survived or hung, {stale} stale")
    return 1 if survived or stale else 0


if __name__ == "__main__":
    sys.exit(main())
