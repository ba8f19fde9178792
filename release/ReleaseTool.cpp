// Module_Client_Updater_Release: what every installed copy will do with a release
// (check), and what the update server answers (answers).
#include "release/ReleaseTool.h"

#include <cstdio>
#include <cstdlib>

int Usage(const std::string& why)
{
    std::fprintf(stderr,
                 "%s\n"
                 "usage: Module_Client_Updater_Release check --installed <Vantorel.exe> [--installed ...]\n"
                 "           [--next-main <Vantorel.exe>] <package> [<package> ...]\n"
                 "       Module_Client_Updater_Release answers --current <a.b.c.d> --oldest <a.b.c.d>\n"
                 "           --out <folder> <package URL> [<package URL> ...]\n",
                 why.c_str());
    return 2;
}

bool ParseVersion(const std::string& text, ULONGLONG& version)
{
    version = 0;
    const char* p = text.c_str();
    for (int part = 0; part < 4; ++part) {
        char* end = nullptr;
        const unsigned long n = std::strtoul(p, &end, 10);
        if (end == p || *p < '0' || *p > '9' || n > 0xFFFF || *end != (part < 3 ? '.' : '\0'))
            return false;
        version = version << 16 | n;
        p = end + 1;
    }
    return true;
}

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : argc), argv + argc);
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "check")
            return CheckRelease(args);
        if (command == "answers")
            return WriteServerAnswers(args);
        return Usage(command.empty() ? "no command" : "unknown command " + command);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
