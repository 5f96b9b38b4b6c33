#pragma once
// CRunFollower: which frames of a module on a broker a subscriber takes. Each run of a publisher
// has an id of its own and numbers its frames 1, 2, 3, ... in two MQTT user properties beside the
// payload (kRunProperty, kSequenceProperty), counting the frames it had to drop too. A subscriber
// follows one run: frames of any other are set aside, a frame that comes again (a QoS 1 message
// sent twice) is taken once, and every number skipped is a frame that never arrived, counted
// with the gaps it came in. Frames without a run id (publishers that give none) form one run of
// their own. Plain bookkeeping for one thread.
#include <cstdint>
#include <optional>
#include <string>

inline constexpr char kRunProperty[] = "run";
inline constexpr char kSequenceProperty[] = "seq";

enum class FrameVerdict {
    kTake,       // the next frame of the run followed
    kDuplicate,  // one taken before
    kOtherRun,   // a frame of another run
};

class CRunFollower {
  public:
    // A run its publisher says is online: it is followed from now on, its numbering afresh.
    // True when it replaces another run followed so far.
    bool Follow(const std::string& run);
    // The frame of `run` numbered `sequence` (nothing: a frame without a number, taken as it
    // comes). The first frame seen sets the run when no status has.
    FrameVerdict Take(const std::string& run, std::optional<uint64_t> sequence);

    bool HasRun() const { return m_hasRun; }
    const std::string& Run() const { return m_run; }
    uint64_t Missing() const { return m_missing; }
    uint64_t Gaps() const { return m_gaps; }

  private:
    bool m_hasRun = false;
    std::string m_run;
    std::optional<uint64_t> m_lastSequence;  // of the run followed
    uint64_t m_missing = 0;                  // numbers skipped, over every run followed
    uint64_t m_gaps = 0;
};

// The number a sequence property holds: decimal digits only, else nothing.
std::optional<uint64_t> ParseSequenceNumber(const std::string* text);
// A new run id for a publisher: 16 hex digits from the system's random source, so that no two
// runs anywhere share one.
std::string MakeRunId();
// "3044 frames missing in 1 gap", for summaries and notices.
std::string MissingFramesText(uint64_t missing, uint64_t gaps);
