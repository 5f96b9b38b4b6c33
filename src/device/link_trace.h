#pragma once
// CLinkTrace: the opt-in trace of the serial link, for someone finding out why a module
// misbehaves. With THERMAL_TRACE=1 in the environment every byte the port sends and receives,
// and every call of the port that fails, goes to standard error as lines of the form
//
//     12:41:56.260094 tx 4d                                               M
//     12:41:56.260211 rx 54 68 65 72 6d 6f 70 69 6c 65 20 61 72 72 61 79  Thermopile array
//     12:41:56.260211 rx 20 33 32 78 33 31 0d 0a 4d 43 4c 4b 3a 20 38 30   32x31..MCLK: 80
//     12:41:59.310422 !! write() failed: Input/output error
//
// (local time to the microsecond, direction, up to 16 bytes in hex, the same bytes with '.' for
// what is not printable ASCII). The port holds one only while tracing, so an untraced link
// costs one test of a null pointer per read and write.
//
// Threads: Sent on any thread that writes, Received on the serial monitor thread; the lines of
// one call stay together. Writing to standard error blocks the caller while the terminal or
// pipe behind it is full.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

class CLinkTrace {
  public:
    // A trace to standard error when THERMAL_TRACE is set to anything but empty or "0", else
    // null. The port asks once, when it is made.
    static std::unique_ptr<CLinkTrace> FromEnvironment();

    void Sent(const uint8_t* bytes, size_t count) { Bytes("tx", bytes, count); }
    void Received(const uint8_t* bytes, size_t count) { Bytes("rx", bytes, count); }
    // A call of the port that failed, in its own words.
    void Failed(std::string_view message);

  private:
    void Bytes(std::string_view direction, const uint8_t* bytes, size_t count);
    void Emit(const std::string& lines);

    std::mutex m_outputLock;  // keeps the lines of calls on different threads apart
};
