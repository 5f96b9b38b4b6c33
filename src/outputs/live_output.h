#pragma once
// CLiveOutput: an output of a live run (the stream lines on standard output, a progress line on a
// terminal) written without ever waiting longer than the caller allows, so that a stop signal is
// served and the module turned off whatever the reader does. Where a write can wait for ever (a
// pipe or FIFO whose reader stopped reading, a terminal whose output is stopped with Ctrl-S, a
// socket), the output is written without blocking: through a descriptor of its own, opened again
// through /proc/self/fd so that the one the program shares with its parent and siblings keeps its
// flags, or with MSG_DONTWAIT on a socket. Files are written as they are: they never wait for a
// reader. One thread; the descriptor is the caller's.
#include <cstddef>
#include <functional>
#include <string_view>

#include "platform/result.h"

class CLiveOutput {
  public:
    explicit CLiveOutput(int fd);
    ~CLiveOutput();
    CLiveOutput(const CLiveOutput&) = delete;
    CLiveOutput& operator=(const CLiveOutput&) = delete;

    // Writes `bytes`, as many at a time as the reader takes. While the reader takes none,
    // `mayWait(bytes written so far)` is asked every few milliseconds: the wait goes on while it
    // says true. Returns how many bytes were written (all, or fewer when `mayWait` said false),
    // or the failure with its errno as Code() (EPIPE: the reader went away).
    Result<std::size_t> Write(std::string_view bytes,
                              const std::function<bool(std::size_t written)>& mayWait);

  private:
    int m_fd;                 // what is written to
    int m_ownFd = -1;         // m_fd when opened here, closed at the end
    bool m_isSocket = false;  // written with MSG_DONTWAIT
    bool m_mayBlock = false;  // a write to m_fd may wait for the reader: polled first
};
