// HTTP/1.0 GET over one plain TCP connection to port 80, read through a single
// 1024-byte buffer: the status line, then each header line found whole inside it, with
// small carry-overs between fillings. Above both routes, the retries of a download.
#include "engine/UpdateEngine.h"

#include "engine/BodyFile.h"
#include "engine/DownloadAttempt.h"
#include "engine/UpdateLog.h"
#include "framework/UserText.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace engine_detail {
DWORD g_dwRetrySecondMs = 1000;
} // namespace engine_detail

namespace {

const int kBufferSize = 1024;
// The fields the client reads: CDownloadAttempt's, in its order, then the length.
const char* const kFieldNames[] = {"ETag", "Last-Modified", "Content-Range", "Retry-After", "Content-Length"};

// Retries: as patient as a user with a browser, and no more.
const int kMaxRetriesWithoutProgress = 3; // after 1, 2 and 4 s a passing fault has passed
const int kMaxAttempts = 100;             // a long file over a link that drops every few MB
const int kMaxRetryAfter = 30;            // seconds; a longer outage is not waited out

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal integer the way %d does (blanks, sign, digits), but only from
// [p, end). False when there is none or it does not fit in 32 bits. `atEnd` tells
// that the blanks or digits ran up to `end`.
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

// Whether the n bytes at `text` are `what`, ignoring the case of ASCII letters: field
// names are case-insensitive, and some front ends send them in lower case.
bool SameText(const char* text, const char* what, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (LowerAscii(text[i]) != LowerAscii(what[i]))
            return false;
    return true;
}

// Where the value of the header line [line, end) begins when it is the field `name`;
// null when it is another. `end` is moved back over blanks after the value.
const char* FieldValue(const char* line, const char*& end, const char* name)
{
    const size_t n = strlen(name);
    if (static_cast<size_t>(end - line) <= n || line[n] != ':' || !SameText(line, name, n))
        return nullptr;
    for (line += n + 1; line < end && IsSpace(*line);)
        ++line;
    while (end > line && IsSpace(end[-1]))
        --end;
    return line;
}

// A timeout, a rate limit, or a server's or gateway's passing fault.
bool IsTransientStatus(int status)
{
    return status == 408 || status == 429 || status == 500 || (status >= 502 && status <= 504);
}

} // namespace

void CDownloadAttempt::Post(WPARAM phase)
{
    m_nReached = phase;
    if (m_bNotify && phase >= m_nPostFrom)
        PostMessageA(m_hWnd, UM_TRANSFER_STATE, phase, 0);
}

void CDownloadAttempt::SetField(int field, const char* value, size_t n)
{
    n = n < kFieldSize ? n : 0;
    memcpy(m_szFields[field], value, n);
    m_szFields[field][n] = '\0';
}

std::string CDownloadAttempt::ResumeLines() const
{
    std::string lines;
    if (m_file.Kept() > 0) {
        lines += "Range: bytes=";
        lines += NumberText(m_file.Kept());
        lines += "-\r\n";
    }
    if (!lines.empty() && *m_szValidator) {
        lines += "If-Range: ";
        lines += m_szValidator;
        lines += "\r\n";
    }
    return lines;
}

bool CDownloadAttempt::Begin(std::int32_t length)
{
    // A weak ETag may not go in If-Range. Only printable ASCII goes back, so that a
    // server's bytes never make a header line of their own.
    const char* etag = m_szFields[ETAG];
    memcpy(m_szValidator, *etag && strncmp(etag, "W/", 2) != 0 ? etag : m_szFields[LAST_MODIFIED],
           kFieldSize);
    for (const char* p = m_szValidator; *p; ++p)
        if (*p < ' ') {
            *m_szValidator = '\0';
            break;
        }
    return m_file.Begin(length);
}

bool CDownloadAttempt::IsRest(long long partLength) const
{
    // "bytes <kept>-<length - 1>/<length>"
    const int expected[] = {m_file.Kept(), m_file.Length() - 1, m_file.Length()};
    const char* p = m_szFields[CONTENT_RANGE];
    if (strncmp(p, "bytes ", 6) != 0)
        return false;
    p += 6;
    for (int i = 0; i < 3; ++i) {
        bool atEnd = false;
        int n = -1;
        const char* end = p;
        while (*end >= '0' && *end <= '9')
            ++end;
        if (!ReadDecimal(p, end, n, atEnd) || n != expected[i] || *end != "-/"[i]) // the last: the text's end
            return false;
        p = end + 1;
    }
    return partLength == expected[2] - expected[0];
}

int CDownloadAttempt::RetryAfter() const
{
    const char* text = m_szFields[RETRY_AFTER];
    int seconds = -1;
    bool atEnd = false; // seconds only: a date is not read
    return ReadDecimal(text, text + strlen(text), seconds, atEnd) && atEnd && seconds >= 0
                   && seconds <= kMaxRetryAfter
               ? seconds
               : -1;
}

void CDownloadAttempt::Next()
{
    m_nPostFrom = std::max(m_nPostFrom, m_nReached + 10);
    m_nStatus = 0;
    memset(m_szFields, 0, sizeof m_szFields);
    m_nReached = 0;
    m_bTimedOut = false;
}

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
    CBodyFile file(path, m_nReceived);
    CDownloadAttempt attempt(file, m_hNotifyWnd, notify);
    int result = 0;
    bool bMoved = false;
    std::int32_t mostKept = 0;
    for (int n = 1, retries = 0;; ++n) {
        const std::int32_t asked = file.Kept();
        if (!bSecure && !bProxy) {
            result = DirectDownload(url, attempt, maxLength);
            // A server that moved is followed by the stack, which reads where to.
            bMoved = result == 301 || result == 302 || result == 303 || result == 307 || result == 308;
        }
        if (bSecure || bProxy || bMoved)
            result = SystemDownload(url, attempt, maxLength, proxy);
        // A socket closed by Cancel fails whatever call it was in: that is the cancel.
        if (result < 0 && m_bCancel)
            result = DOWNLOAD_CANCELLED;
        // What another attempt may mend. A connection never made, or an answer that
        // took the whole time-out to begin, is no passing fault.
        const char* why = IsTransientStatus(result) ? "status" : nullptr;
        if (result == 206 && asked > 0)
            why = "another range";
        if (result == DOWNLOAD_TRANSFER && attempt.m_nReached >= 10
            && (attempt.m_nReached >= 20 || !attempt.m_bTimedOut))
            why = "cut";
        if (result == 206)
            file.Discard(0); // another range or version: never joined to the kept bytes
        if (file.Kept() > mostKept) {
            mostKept = file.Kept();
            retries = 0;
        }
        if (!why || retries == kMaxRetriesWithoutProgress || n == kMaxAttempts)
            break;
        const int asks = attempt.RetryAfter();
        const int wait = asks >= 0 ? asks : 1 << retries;
        ++retries;
        LogEvent("retry", {{"url", url, CLogFact::URL},
                           {"attempt", n + 1},
                           {"why", why},
                           {"status", attempt.m_nStatus},
                           {"from", file.Kept()},
                           {"wait", wait}});
        if (!WaitOrCancel(nullptr, wait * engine_detail::g_dwRetrySecondMs)) {
            result = DOWNLOAD_CANCELLED;
            break;
        }
        attempt.Next();
    }
    LogEvent("download", {{"url", url, CLogFact::URL},
                          {"route", bProxy    ? "proxy"
                                    : bSecure ? "https"
                                    : bMoved  ? "direct, moved"
                                              : "direct"},
                          {"proxy", proxy.m_strProxy, CLogFact::URL},
                          {"result", result},
                          {"bytes", m_nReceived.load()}});
    return result;
}

int CUpdateEngine::DirectDownload(const char* url, CDownloadAttempt& attempt, std::int32_t maxLength)
{
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

    attempt.Post(0);
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

    const std::string request = std::string("GET ") + url + " HTTP/1.0\r\n" + attempt.ResumeLines() + "\r\n";
    if (send(s, request.data(), static_cast<int>(request.size()), 0) == SOCKET_ERROR)
        return DOWNLOAD_TRANSFER;
    attempt.Post(10);

    if (m_bCancel)
        return DOWNLOAD_CANCELLED;

    char buffer[kBufferSize];
    int count = 0;

    // A failed receive: the connection broke, or ran out of time.
    auto broken = [&]() -> int {
        attempt.m_bTimedOut = WSAGetLastError() == WSAETIMEDOUT;
        return DOWNLOAD_TRANSFER;
    };
    // Receives after `count` until the server closes or the buffer is full.
    auto fill = [&]() -> int {
        while (count < kBufferSize) {
            if (m_bCancel)
                return DOWNLOAD_CANCELLED;
            const int n = recv(s, buffer + count, kBufferSize - count, 0);
            if (n == SOCKET_ERROR)
                return broken();
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
    attempt.m_nStatus = status;
    const bool bRest = status == 206 && attempt.m_file.Kept() > 0;
    if (status != 200 && !bRest && !IsTransientStatus(status))
        return status;
    const int malformed = status == 200 ? DOWNLOAD_FAILED : status;

    // Each line is read once it is whole in the buffer: one cut by the buffer's end is
    // moved to the front first, and one longer than the buffer is passed over.
    int length = -1;
    bool bSkip = true; // the status line, or the rest of a line longer than the buffer
    int at = 0;
    for (;;) {
        int end = at;
        while (end + 1 < count && (buffer[end] != '\r' || buffer[end + 1] != '\n'))
            ++end;
        if (end + 1 >= count) {
            if (count < kBufferSize)
                return malformed;
            bSkip = bSkip || at == 0;
            // A CR at the very end may begin the line's end: it stays.
            if (const int rc = carry(at > 0 ? at : kBufferSize - 1))
                return rc;
            at = 0;
            continue;
        }
        const char* const line = buffer + at;
        const char* valueEnd = buffer + end;
        at = end + 2;
        if (bSkip) {
            bSkip = false;
            continue;
        }
        if (line == valueEnd)
            break; // the blank line
        int i = 0;
        const char* value = nullptr;
        while (i < CDownloadAttempt::FIELDS && !(value = FieldValue(line, valueEnd, kFieldNames[i])))
            ++i;
        if (value) {
            attempt.SetField(i, value, valueEnd - value);
        } else if (length < 0 && (value = FieldValue(line, valueEnd, kFieldNames[i]))) {
            if (!ReadDecimal(value, valueEnd, length, atEnd))
                return malformed;
            if (status == 200) {
                m_nContentLength = length;
                if (length < 0 || length > maxLength)
                    return DOWNLOAD_FAILED;
                attempt.Post(20);
            }
        }
    }
    if (status != 200 && !bRest)
        return status;
    if (length < 0)
        return malformed;
    // An empty body is refused, as a missing one is: a byte must follow the blank line.
    // A resumed one cut at once is a cut.
    if (at == count && !bRest) {
        if (count < kBufferSize)
            return malformed;
        if (const int rc = carry(at))
            return rc;
        if (count == 0)
            return malformed;
        at = 0;
    }
    if (bRest) {
        if (!attempt.IsRest(length))
            return status;
        attempt.Post(20);
    } else if (!attempt.Begin(length)) {
        return DOWNLOAD_FAILED;
    }
    if (const int rc = attempt.m_file.Store(buffer + at, count - at))
        return rc;
    for (;;) {
        if (m_bCancel)
            return DOWNLOAD_CANCELLED;
        const int n = recv(s, buffer, kBufferSize, 0);
        if (n == SOCKET_ERROR)
            return broken();
        if (n == 0)
            break;
        if (const int rc = attempt.m_file.Store(buffer, n))
            return rc;
    }
    if (const int rc = attempt.m_file.Finish())
        return rc;
    attempt.Post(30);
    return DOWNLOAD_OK;
}
