#include "engine/UpdateInfo.h"

#include <windows.h>

#include <cstdio>
#include <memory>

namespace {
void TrimLineBreaks(std::string& line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
}

// The next line without its line break; false when nothing was left to read.
// `complete` tells that the line break was there.
bool ReadLine(FILE* file, std::string& line, bool& complete)
{
    line.clear();
    complete = false;
    for (int c; (c = std::getc(file)) != EOF;) {
        if (c == '\n') {
            complete = true;
            return true;
        }
        line.push_back(static_cast<char>(c));
    }
    return !line.empty();
}
} // namespace

UpdateInfoVerdict ReadUpdateInfo(const std::string& path, std::vector<std::string>& urls)
{
    urls.clear();
    // Text mode: the C runtime turns CR LF into LF; a lone CR is trimmed below.
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
    if (!file)
        return UpdateInfoVerdict::Malformed;

    // A verdict line without its line break is rejected, as is a shorter file.
    std::string line;
    bool complete = false;
    for (int i = 0; i < 4; ++i)
        if (!ReadLine(file.get(), line, complete) || !complete)
            return UpdateInfoVerdict::Malformed;

    TrimLineBreaks(line);
    if (line == "too_old")
        return UpdateInfoVerdict::TooOld;
    if (line == "latest")
        return UpdateInfoVerdict::Latest;
    if (line != "update_files:")
        return UpdateInfoVerdict::Malformed;

    // A last line without a line break is kept.
    while (ReadLine(file.get(), line, complete)) {
        TrimLineBreaks(line);
        if (!line.empty())
            urls.push_back(line);
    }
    return UpdateInfoVerdict::Packages;
}

namespace {

// A device name opens the device, with or without an extension.
bool IsDeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    base.erase(base.find_last_not_of(' ') + 1);
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9')
        base[3] = '#'; // COM1 to COM9, LPT1 to LPT9
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "COM#", "LPT#"})
        if (lstrcmpiA(base.c_str(), device) == 0)
            return true;
    return false;
}

} // namespace

bool PackageFileNames(const std::vector<std::string>& urls, std::vector<std::string>& names)
{
    for (const std::string& url : urls) {
        const size_t slash = url.rfind('/');
        if (slash == std::string::npos)
            return false;
        std::string name = url.substr(slash + 1);
        // The file system drops trailing dots and blanks: "a.exe. " is a.exe.
        name.erase(name.find_last_not_of(". ") + 1);
        if (name.empty() || name.find_first_of("\\:") != std::string::npos || IsDeviceName(name))
            return false;
        for (const std::string& earlier : names)
            if (lstrcmpiA(earlier.c_str(), name.c_str()) == 0)
                return false;
        names.push_back(name);
    }
    return true;
}
