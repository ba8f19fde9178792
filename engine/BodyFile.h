// The file a download's body goes to, on either route and across the download's
// attempts. Only a body of exactly the announced length is ever kept: a cut one waits
// for a resume and goes when the download fails, as an overlong or unwritten one does,
// so it is never run. Lives on the worker thread, for one download.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "engine/StatusMessages.h"

class CBodyFile {
public:
    // Nothing is opened before a body begins; `received` follows the bytes stored.
    CBodyFile(const char* path, std::atomic<std::int32_t>& received) : m_path(path), m_received(received) {}
    ~CBodyFile() { Discard(0); }
    CBodyFile(const CBodyFile&) = delete;
    CBodyFile& operator=(const CBodyFile&) = delete;

    // Starts a body of `length` bytes from the first byte, in `path` created or
    // truncated ("wb"); false when it cannot be opened.
    bool Begin(std::int32_t length)
    {
        Discard(0);
        m_file = std::fopen(m_path, "wb");
        m_length = length;
        m_received = 0;
        return m_file != nullptr;
    }
    std::int32_t Kept() const { return m_stored; }
    std::int32_t Length() const { return m_length; }
    // 0, or DOWNLOAD_FAILED when the bytes run past the length or cannot be written.
    int Store(const char* data, std::int32_t n)
    {
        if (n > m_length - m_stored || std::fwrite(data, 1, n, m_file) != static_cast<size_t>(n))
            return DOWNLOAD_FAILED;
        m_stored += n;
        m_received = m_stored;
        return 0;
    }
    // Deletes the file and forgets what it kept; returns rc.
    int Discard(int rc)
    {
        m_stored = 0;
        if (m_file) {
            std::fclose(m_file);
            m_file = nullptr;
            DeleteFileA(m_path);
        }
        return rc;
    }
    // 0 when the whole body is there and written. A short one stays for a resume; a
    // file that cannot be written goes.
    int Finish()
    {
        if (m_stored != m_length)
            return DOWNLOAD_TRANSFER;
        FILE* const file = m_file;
        m_file = nullptr;
        if (std::fclose(file) != 0) { // the last bytes are written here
            DeleteFileA(m_path);
            return DOWNLOAD_FAILED;
        }
        return 0;
    }

private:
    const char* const m_path;
    FILE* m_file = nullptr;
    std::int32_t m_length = 0;
    std::int32_t m_stored = 0;
    std::atomic<std::int32_t>& m_received;
};
