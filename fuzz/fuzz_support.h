#pragma once
// What the harnesses share: a failed invariant stops the run with a message (libFuzzer then
// saves the input as a crash), and an input given to a reader that takes a path is put into an
// anonymous in-memory file, so no harness touches the disk.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The input as a regular file, reachable through Path() while the object lives.
class CMemoryFile {
  public:
    CMemoryFile(const uint8_t* data, std::size_t size) {
        m_fd = memfd_create("fuzz-input", MFD_CLOEXEC);
        FUZZ_CHECK(m_fd >= 0);
        std::size_t written = 0;
        while (written < size) {
            const ssize_t n = ::write(m_fd, data + written, size - written);
            FUZZ_CHECK(n > 0);
            written += static_cast<std::size_t>(n);
        }
        m_path = "/proc/self/fd/" + std::to_string(m_fd);
    }
    ~CMemoryFile() { ::close(m_fd); }
    CMemoryFile(const CMemoryFile&) = delete;
    CMemoryFile& operator=(const CMemoryFile&) = delete;

    const std::string& Path() const { return m_path; }

  private:
    int m_fd = -1;
    std::string m_path;
};
