#include "app/RelaunchScript.h"

#include <cstdio>
#include <cstring>
#include <memory>

bool EscapeForBatch(const std::string& commandLine, std::string& escaped)
{
    escaped.clear();
    bool bQuoted = false;
    for (const char c : commandLine) {
        if (c == '\r' || c == '\n' || c == '\0')
            return false;
        if (c == '"')
            bQuoted = !bQuoted;
        if (c == '%')
            escaped += '%'; // %% is one % in a script, inside quotes too
        else if (!bQuoted && std::strchr("&|<>^()", c))
            escaped += '^';
        escaped += c;
    }
    return true;
}

bool WriteRelaunchScript(const std::string& scriptPath, const std::string& copyPath,
                         const std::string& commandLine)
{
    std::string arguments;
    if (!EscapeForBatch(commandLine, arguments))
        return false;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(scriptPath.c_str(), "w"), std::fclose);
    if (!file)
        return false;
    const int n = std::fprintf(file.get(), "\"%s\" %s\ndel \"%s\"\ndel %%0", copyPath.c_str(),
                               arguments.c_str(), copyPath.c_str());
    return n > 0 && std::fclose(file.release()) == 0;
}
