// Download and update-run figures against a local nginx. Not a test: it prints
// measurements for bench/README.md.
//   download_bench.exe download URL REPEATS   throughput of HttpDownload, of a bare
//                                             receive loop (http only) and of
//                                             URLDownloadToFileA
//   download_bench.exe peak URL               peak memory of one HttpDownload
//   download_bench.exe refused URL REPEATS    time until HttpDownload gives -2
//   download_bench.exe run INFO_URL REPEATS   wall time of whole update runs
//   download_bench.exe resume WHOLE_URL CUT_URL  a file fetched whole, then over a link
//                                             that drops: results, times, byte-exact
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <urlmon.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/UpdateEngine.h"

namespace {

double Now()
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return double(c.QuadPart) / double(f.QuadPart);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string TempFile(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + name;
}

long long FileSize(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// The floor of the design: connect, send the same request, and pass every byte
// through one 1024-byte buffer to the file, with no parsing at all.
long long BareReceive(const char* url, const std::string& path)
{
    const char* host = url + 7;
    const std::string h(host, strchr(host, '/') ? strchr(host, '/') : host + strlen(host));
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons(80);
    a.sin_addr.s_addr = inet_addr(h.c_str());
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        closesocket(s);
        return -1;
    }
    const std::string request = std::string("GET ") + url + " HTTP/1.0\r\n\r\n";
    send(s, request.data(), int(request.size()), 0);
    FILE* f = fopen(path.c_str(), "wb");
    char buffer[1024];
    long long total = 0;
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0; total += n)
        fwrite(buffer, 1, n, f);
    fclose(f);
    closesocket(s);
    return total;
}

int Download(const char* url, int repeats)
{
    CUpdateEngine engine;
    const bool bSecure = strncmp(url, "https://", 8) == 0;
    const std::string path = TempFile("bench_download.bin");
    std::vector<double> engineTimes, bareTimes, systemTimes;
    long long size = 0;
    for (int i = 0; i < repeats; ++i) {
        double t = Now();
        const int rc = engine.HttpDownload(url, path.c_str(), false);
        engineTimes.push_back(Now() - t);
        if (rc != 200) {
            fprintf(stderr, "HttpDownload: %d\n", rc);
            return 1;
        }
        size = FileSize(path);

        // The floor is the plain-socket loop: an https URL has none.
        t = Now();
        if (!bSecure && BareReceive(url, path) < size)
            return 1;
        bareTimes.push_back(Now() - t);

        t = Now();
        const HRESULT hr = URLDownloadToFileA(nullptr, url, path.c_str(), 0, nullptr);
        systemTimes.push_back(Now() - t);
        if (FAILED(hr) || FileSize(path) != size) {
            fprintf(stderr, "URLDownloadToFileA: 0x%08lx\n", static_cast<unsigned long>(hr));
            systemTimes.back() = 0;
        }
        DeleteFileA(path.c_str());
    }
    const double mb = double(size) / (1024 * 1024);
    const double engineRate = mb / Median(engineTimes), bareRate = mb / Median(bareTimes);
    const double systemMedian = Median(systemTimes);
    printf("size_mib=%.0f httpdownload_mib_s=%.1f", mb, engineRate);
    if (!bSecure)
        printf(" bare_loop_mib_s=%.1f", bareRate);
    if (systemMedian > 0)
        printf(" urldownloadtofile_mib_s=%.1f ratio_to_urldownloadtofile=%.2f", mb / systemMedian,
               engineRate / (mb / systemMedian));
    if (!bSecure)
        printf(" ratio_to_floor=%.2f", engineRate / bareRate);
    printf(" repeats=%d\n", repeats);
    return 0;
}

bool SameFiles(const std::string& a, const std::string& b)
{
    FILE* fa = fopen(a.c_str(), "rb");
    FILE* fb = fopen(b.c_str(), "rb");
    bool same = fa && fb;
    static char ba[1 << 16], bb[1 << 16];
    for (size_t n; same && (n = fread(ba, 1, sizeof ba, fa)) > 0;)
        same = fread(bb, 1, sizeof bb, fb) == n && memcmp(ba, bb, n) == 0;
    same = same && fread(bb, 1, 1, fb) == 0;
    if (fa)
        fclose(fa);
    if (fb)
        fclose(fb);
    return same;
}

// The same file fetched whole and over a link that drops the connection every few MiB.
int Resume(const char* wholeUrl, const char* cutUrl)
{
    CUpdateEngine engine;
    const std::string whole = TempFile("bench_whole.bin"), cut = TempFile("bench_cut.bin");
    double t = Now();
    const int rcWhole = engine.HttpDownload(wholeUrl, whole.c_str(), false);
    const double wholeTime = Now() - t;
    t = Now();
    const int rcCut = engine.HttpDownload(cutUrl, cut.c_str(), false);
    const double cutTime = Now() - t;
    const bool same = rcWhole == 200 && rcCut == 200 && SameFiles(whole, cut);
    printf(
        "size_mib=%.1f whole_result=%d whole_s=%.2f cut_result=%d cut_s=%.2f time_ratio=%.2f byte_exact=%d\n",
        double(FileSize(whole)) / (1024 * 1024), rcWhole, wholeTime, rcCut, cutTime, cutTime / wholeTime,
        same ? 1 : 0);
    DeleteFileA(whole.c_str());
    DeleteFileA(cut.c_str());
    return same ? 0 : 1;
}

int Peak(const char* url)
{
    CUpdateEngine engine;
    const std::string path = TempFile("bench_peak.bin");
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof before);
    const int rc = engine.HttpDownload(url, path.c_str(), false);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof after);
    const long long size = FileSize(path);
    DeleteFileA(path.c_str());
    printf(
        "size_bytes=%lld result=%d peak_working_set_kib=%llu peak_growth_kib=%lld peak_commit_kib=%llu\n",
        size, rc, static_cast<unsigned long long>(after.PeakWorkingSetSize / 1024),
        (static_cast<long long>(after.PeakWorkingSetSize) - static_cast<long long>(before.PeakWorkingSetSize))
            / 1024,
        static_cast<unsigned long long>(after.PeakPagefileUsage / 1024));
    return rc == 200 ? 0 : 1;
}

int Refused(const char* url, int repeats)
{
    CUpdateEngine engine;
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const double t = Now();
        const int rc = engine.HttpDownload(url, TempFile("bench_refused.bin").c_str(), false);
        times.push_back(Now() - t);
        if (rc != -2)
            return 1;
    }
    printf("refused_median_ms=%.2f repeats=%d\n", Median(times) * 1000, repeats);
    return 0;
}

int Runs(const char* infoUrl, int repeats)
{
    char temp[MAX_PATH], self[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    // The packages (the fake program) log where they ran, and succeed only then.
    SetEnvironmentVariableA("PACKAGE_LOG", (std::string(temp) + "bench_packages.log").c_str());
    // An unsigned main program: without one, no package would be let run.
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    *strrchr(self, '\\') = '\0';
    CopyFileA((std::string(self) + "\\fake_noversion.exe").c_str(),
              (std::string(temp) + "Vantorel.exe").c_str(), FALSE);
    HWND window = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    std::vector<double> times;
    UINT last = 0;
    WPARAM lastPhase = 0;
    for (int i = 0; i < repeats; ++i) {
        CUpdateEngine engine;
        engine.m_strFolder = engine.m_strInstallFolder = temp;
        engine.m_strModuleName = "Module_Client_Updater_BAK.exe";
        engine.m_strInfoUrl = infoUrl;
        engine.m_hNotifyWnd = window;
        const double t = Now();
        if (engine.Start() != 0)
            return 1;
        WaitForSingleObject(engine.m_hThread, INFINITE);
        times.push_back(Now() - t);
        MSG msg;
        while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE))
            if (msg.message != UM_TRANSFER_STATE) {
                last = msg.message;
                lastPhase = msg.wParam;
            }
    }
    DestroyWindow(window);
    printf("run_median_ms=%.1f last_message=%u phase=%u repeats=%d\n", Median(times) * 1000, last,
           static_cast<unsigned>(lastPhase), repeats);
    return last == UM_UPDATE_RESULT ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const std::string mode = argc > 1 ? argv[1] : "";
    const int repeats = argc > 3 ? atoi(argv[3]) : 1;
    if (argc > 2 && mode == "download")
        return Download(argv[2], repeats);
    if (argc > 2 && mode == "peak")
        return Peak(argv[2]);
    if (argc > 2 && mode == "refused")
        return Refused(argv[2], repeats);
    if (argc > 2 && mode == "run")
        return Runs(argv[2], repeats);
    if (argc > 3 && mode == "resume")
        return Resume(argv[2], argv[3]);
    fprintf(stderr, "usage: download_bench download|peak|refused|run URL [REPEATS], or resume URL URL\n");
    return 2;
}
