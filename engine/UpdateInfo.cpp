#include "engine/UpdateInfo.h"

#include <fstream>

namespace {
void TrimLineBreaks(std::string& line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
}
} // namespace

UpdateInfoVerdict ReadUpdateInfo(const std::string& path, std::vector<std::string>& urls)
{
    urls.clear();
    // Text mode: the C runtime turns CR LF into LF; a lone CR is trimmed below.
    std::ifstream in(path.c_str());
    if (!in.is_open() || !in.good())
        return UpdateInfoVerdict::Malformed;

    std::string line;
    for (int i = 0; i < 4; ++i)
        std::getline(in, line);
    // End of file during any of the four reads counts too, so a verdict line
    // without its line break is rejected.
    if (!in.good())
        return UpdateInfoVerdict::Malformed;

    TrimLineBreaks(line);
    if (line == "too_old")
        return UpdateInfoVerdict::TooOld;
    if (line == "latest")
        return UpdateInfoVerdict::Latest;
    if (line != "update_files:")
        return UpdateInfoVerdict::Malformed;

    // getline succeeds for a last line without a line break: it is kept.
    while (std::getline(in, line)) {
        TrimLineBreaks(line);
        if (!line.empty())
            urls.push_back(line);
    }
    return UpdateInfoVerdict::Packages;
}
