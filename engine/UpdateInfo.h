// Reader of the update-info file the server answers the version query with:
// three ignored lines, a verdict line, then package URLs for "update_files:".
#pragma once

#include <string>
#include <vector>

enum class UpdateInfoVerdict {
    Malformed, // unreadable, too short, or an unknown verdict line
    Latest,    // "latest"
    TooOld,    // "too_old"
    Packages,  // "update_files:", the URLs follow (possibly none)
};

// Reads the file at `path`. `urls` is emptied first and, for Packages, receives
// the package URLs in file order, each exactly as written.
UpdateInfoVerdict ReadUpdateInfo(const std::string& path, std::vector<std::string>& urls);
