// Reader of the update-info file the server answers the version query with:
// three ignored lines, a verdict line, then package URLs for "update_files:"; and the
// rules for what it may list. The updater and the release tool both ask here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a server may send, whatever it means by it.
const std::int32_t kMaxUpdateInfoSize = 64 * 1024; // four short lines and a list of URLs
const size_t kMaxPackages = 100;                   // far more than any release needs

enum class UpdateInfoVerdict {
    Malformed, // unreadable, too short, or an unknown verdict line
    Latest,    // "latest"
    TooOld,    // "too_old"
    Packages,  // "update_files:", the URLs follow (possibly none)
};

// Reads the file at `path`. `urls` is emptied first and, for Packages, receives
// the package URLs in file order, each exactly as written.
UpdateInfoVerdict ReadUpdateInfo(const std::string& path, std::vector<std::string>& urls);

// The local file names of the packages: what follows each URL's last '/', as the file
// system names it. False when one has none, or could leave the download folder (a
// backslash, a colon, "." or ".."), names a device, or repeats an earlier one.
bool PackageFileNames(const std::vector<std::string>& urls, std::vector<std::string>& names);
