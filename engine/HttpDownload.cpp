// HTTP/1.0 GET over one plain TCP connection to port 80, read through a single
// 1024-byte buffer: the status line, the Content-Length label and the end of the
// header block are all found inside it, with small carry-overs between fillings.
#include "engine/UpdateEngine.h"

#include "engine/BodyFile.h"
#include "engine/UpdateLog.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

const int kBufferSize = 1024;
const char kLengthLabel[] = "Content-Length:";
const int kLabelSize = sizeof kLengthLabel - 1; // 15
const char kHeaderEnd[] = "\r\n\r\n";
const int kHeaderEndSize = sizeof kHeaderEnd - 1; // 4

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal integer the way %d does (blanks, sign, digits), but only from
// [p, end). False when there is none or it does not fit in 32 bits. `atEnd` tells
// that the blanks or digits ran up to `end`, so more of them may still be unread.
bool ReadDecimal(const char* p, const char* end, int& value, bool& atEnd)
{
    while (p < end && IsSpace(*p))
        ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
        negative = *p++ == '-';
    long long magnitude = 0;
    const char* digits = p;
    bool tooLarge = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (!tooLarge)
            magnitude = magnitude * 10 + (*p - '0');
        tooLarge = tooLarge || magnitude > 2147483648LL;
    }
    atEnd = p == end;
    const long long v = negative ? -magnitude : magnitude;
    if (p == digits || tooLarge || v > 2147483647LL)
        return false;
    value = static_cast<int>(v);
    return true;
}

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// First position p with p + n < count where the n bytes of `what` stand, ignoring the
// case of ASCII letters, or -1: at least one received byte must follow the match.
// Field names are case-insensitive, and some front ends send them in lower case.
int Find(const char* buffer, int count, const char* what, int n)
{
    for (int p = 0; p + n < count; ++p) {
        int i = 0;
        while (i < n && LowerAscii(buffer[p + i]) == LowerAscii(what[i]))
            ++i;
        if (i == n)
            return p;
    }
    return -1;
}

} // namespace

bool IsDownloadUrl(const std::string& url)
{
    return (url.compare(0, 7, "http://") == 0 && url.size() > 7)
           || (url.compare(0, 8, "https://") == 0 && url.size() > 8);
}

// The download's socket, known to the engine while it is open so that Cancel can
// close it from the interface thread; closed here unless Cancel did.
class CDownloadSocket {
public:
    explicit CDownloadSocket(CUpdateEngine& engine) : m_engine(engine), m_s(socket(AF_INET, SOCK_STREAM, 0))
    {
        const std::lock_guard<std::mutex> lock(m_engine.m_socketLock);
        m_engine.m_socket = m_s;
    }
    ~CDownloadSocket()
    {
        const std::lock_guard<std::mutex> lock(m_engine.m_socketLock);
        if (m_engine.m_socket == m_s && m_s != INVALID_SOCKET)
            closesocket(m_s);
        m_engine.m_socket = INVALID_SOCKET;
    }
    CDownloadSocket(const CDownloadSocket&) = delete;
    CDownloadSocket& operator=(const CDownloadSocket&) = delete;
    SOCKET Get() const { return m_s; }

private:
    CUpdateEngine& m_engine;
    const SOCKET m_s;
};

int CUpdateEngine::HttpDownload(const char* url, const char* path, bool notify, std::int32_t maxLength)
{
    m_nContentLength = -1;
    m_nReceived = 0;
    const bool bSecure = strncmp(url, "https://", 8) == 0;
    CProxy proxy;
    if (IsDownloadUrl(url) && !ProxyFor(url, proxy))
        return DOWNLOAD_CANCELLED;
    const bool bProxy = !proxy.m_strProxy.empty();
    int result = 0;
    std::string route = bProxy ? "proxy" : bSecure ? "https" : "direct";
    if (bSecure || bProxy) {
        result = SystemDownload(url, path, notify, maxLength, proxy);
    } else {
        result = DirectDownload(url, path, notify, maxLength);
        // A server that moved is followed by the stack, which reads where to.
        if (result == 301 || result == 302 || result == 303 || result == 307 || result == 308) {
            route += ", moved";
            result = SystemDownload(url, path, notify, maxLength, proxy);
        }
    }
    // A socket closed by Cancel fails whatever call it was in: that is the cancel.
    if (result < 0 && m_bCancel)
        result = DOWNLOAD_CANCELLED;
    LogEvent("download", {{"url", url, CLogFact::URL},
                          {"route", route},
                          {"proxy", proxy.m_strProxy, CLogFact::URL},
                          {"result", result},
                          {"bytes", m_nReceived.load()}});
    return result;
}

int CUpdateEngine::DirectDownload(const char* url, const char* path, bool notify, std::int32_t maxLength)
{
    auto post = [&](WPARAM phase) {
        if (notify)
            PostMessageA(m_hNotifyWnd, UM_TRANSFER_STATE, phase, 0);
    };

    const size_t urlLength = strlen(url);
    if (urlLength < 8 || strncmp(url, "http://", 7) != 0)
        return DOWNLOAD_FAILED;

    const char* hostBegin = url + 7;
    const char* hostEnd = strchr(hostBegin, '/');
    const std::string host(hostBegin, hostEnd ? hostEnd : url + urlLength);
    const bool numeric = host.find_first_not_of("0123456789.") == std::string::npos;

    CDownloadSocket sock(*this);
    if (sock.Get() == INVALID_SOCKET)
        return DOWNLOAD_FAILED;
    const SOCKET s = sock.Get();

    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(80);
    if (numeric) {
        // Some socket layers read an empty text as 0.0.0.0; it names no server.
        const unsigned long a = host.empty() ? INADDR_NONE : inet_addr(host.c_str());
        if (a == INADDR_NONE)
            return DOWNLOAD_FAILED;
        address.sin_addr.s_addr = a;
    } else {
        const auto found = std::make_shared<in_addr>();
        found->s_addr = INADDR_NONE; // none found; no server has it, as above
        if (!LookUp([found, host] {
                const hostent* entry = gethostbyname(host.c_str());
                if (entry && entry->h_addrtype == AF_INET && entry->h_addr_list && entry->h_addr_list[0])
                    memcpy(found.get(), entry->h_addr_list[0], sizeof *found);
            }))
            return DOWNLOAD_CANCELLED;
        if (found->s_addr == INADDR_NONE)
            return DOWNLOAD_FAILED;
        address.sin_addr = *found;
    }

    if (m_bCancel)
        return DOWNLOAD_CANCELLED;

    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return DOWNLOAD_FAILED;

    post(0);
    connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);

    // Windows reports a refused connection in the exception set, not as writable:
    // watching only for writing would sit out the whole minute.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval timeout = {60, 0};
    const int ready = select(0, nullptr, &writable, &failed, &timeout);
    if (ready <= 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable))
        return DOWNLOAD_TRANSFER;

    u_long blocking = 0;
    if (ioctlsocket(s, FIONBIO, &blocking) != 0)
        return DOWNLOAD_FAILED;

    const DWORD ioTimeout = 300000;
    if (setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ioTimeout), sizeof ioTimeout)
            != 0
        || setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ioTimeout), sizeof ioTimeout)
               != 0)
        return DOWNLOAD_FAILED;

    if (m_bCancel)
        return DOWNLOAD_CANCELLED;

    const std::string request = std::string("GET ") + url + " HTTP/1.0\r\n\r\n";
    if (send(s, request.data(), static_cast<int>(request.size()), 0) == SOCKET_ERROR)
        return DOWNLOAD_TRANSFER;
    post(10);

    if (m_bCancel)
        return DOWNLOAD_CANCELLED;

    char buffer[kBufferSize];
    int count = 0;

    // Receives after `count` until the server closes or the buffer is full.
    auto fill = [&]() -> int {
        while (count < kBufferSize) {
            if (m_bCancel)
                return DOWNLOAD_CANCELLED;
            const int n = recv(s, buffer + count, kBufferSize - count, 0);
            if (n == SOCKET_ERROR)
                return DOWNLOAD_TRANSFER;
            if (n == 0)
                break;
            count += n;
        }
        return 0;
    };
    // Moves the bytes from `from` on to the front and fills the buffer again.
    auto carry = [&](int from) -> int {
        memmove(buffer, buffer + from, count - from);
        count -= from;
        return fill();
    };

    if (const int rc = fill())
        return rc;

    const char* space = static_cast<const char*>(memchr(buffer, ' ', count));
    if (!space || space + 1 == buffer + count)
        return DOWNLOAD_FAILED;
    int status = -1;
    bool atEnd = false;
    if (!ReadDecimal(space + 1, buffer + count, status, atEnd))
        status = -1;
    // A negative status would read as one of our own failure codes.
    if (status < 0)
        return DOWNLOAD_FAILED;
    if (status != 200)
        return status;

    for (;;) {
        const int p = Find(buffer, count, kLengthLabel, kLabelSize);
        if (p >= 0) {
            int length = -1;
            bool ok = ReadDecimal(buffer + p + kLabelSize, buffer + count, length, atEnd);
            // Digits cut by the end of a full buffer: move the label to the front
            // and read the rest of them.
            if (atEnd && count == kBufferSize) {
                if (p == 0)
                    return DOWNLOAD_FAILED; // a thousand blanks and digits: no length
                if (const int rc = carry(p))
                    return rc;
                ok = ReadDecimal(buffer + kLabelSize, buffer + count, length, atEnd);
                if (atEnd && count == kBufferSize)
                    return DOWNLOAD_FAILED;
            }
            if (!ok)
                return DOWNLOAD_FAILED;
            m_nContentLength = length;
            if (length < 0 || length > maxLength)
                return DOWNLOAD_FAILED;
            break;
        }
        if (count < kBufferSize)
            return DOWNLOAD_FAILED;
        if (const int rc = carry(kBufferSize - kLabelSize))
            return rc;
    }
    post(20);

    int bodyStart;
    for (;;) {
        const int p = Find(buffer, count, kHeaderEnd, kHeaderEndSize);
        if (p >= 0) {
            bodyStart = p + kHeaderEndSize;
            break;
        }
        if (count < kBufferSize)
            return DOWNLOAD_FAILED;
        if (const int rc = carry(kBufferSize - kHeaderEndSize))
            return rc;
    }

    CBodyFile file(path, m_nContentLength, m_nReceived);
    if (!file.IsOpen())
        return DOWNLOAD_FAILED;
    if (const int rc = file.Store(buffer + bodyStart, count - bodyStart))
        return file.Discard(rc);
    for (;;) {
        if (m_bCancel)
            return file.Discard(DOWNLOAD_CANCELLED);
        const int n = recv(s, buffer, kBufferSize, 0);
        if (n == SOCKET_ERROR)
            return file.Discard(DOWNLOAD_TRANSFER);
        if (n == 0)
            break;
        if (const int rc = file.Store(buffer, n))
            return file.Discard(rc);
    }
    if (const int rc = file.Finish())
        return rc;
    post(30);
    return DOWNLOAD_OK;
}
