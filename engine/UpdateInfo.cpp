#include "engine/UpdateInfo.h"

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
