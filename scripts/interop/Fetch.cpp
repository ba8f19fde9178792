// Fetches one URL into a file with the updater's own HTTP client and prints its
// result: fetch URL FILE
#include <cstdio>

#include "engine/UpdateEngine.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    CUpdateEngine engine;
    printf("%d\n", engine.HttpDownload(argv[1], argv[2], false));
    return 0;
}
