// The file a download's body goes to, on either route. Only a body of exactly the
// announced length is ever kept: a cut, overlong or unwritten one is deleted, so it is
// never run. Lives on the worker thread, for one download.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "engine/StatusMessages.h"

class CBodyFile {
public:
    // Creates or truncates `path` ("wb"); `received` follows the bytes stored.
    CBodyFile(const char* path, std::int32_t length, std::atomic<std::int32_t>& received)
        : m_path(path), m_file(std::fopen(path, "wb")), m_length(length), m_received(received)
    {
    }
    ~CBodyFile() { Discard(0); }
    CBodyFile(const CBodyFile&) = delete;
    CBodyFile& operator=(const CBodyFile&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    // 0, or DOWNLOAD_FAILED when the bytes run past the length or cannot be written.
    int Store(const char* data, std::int32_t n)
    {
        if (n > m_length - m_stored || std::fwrite(data, 1, n, m_file) != static_cast<size_t>(n))
            return DOWNLOAD_FAILED;
        m_stored += n;
        m_received = m_stored;
        return 0;
    }
    // Deletes the file; returns rc.
    int Discard(int rc)
    {
        if (m_file) {
            std::fclose(m_file);
            m_file = nullptr;
            DeleteFileA(m_path);
        }
        return rc;
    }
    // 0 when the whole body is there and written; otherwise the file goes and the
    // result says why.
    int Finish()
    {
        if (m_stored != m_length)
            return Discard(DOWNLOAD_TRANSFER);
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
    FILE* m_file;
    const std::int32_t m_length;
    std::int32_t m_stored = 0;
    std::atomic<std::int32_t>& m_received;
};
