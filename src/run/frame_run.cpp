#include "run/frame_run.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {
using namespace std::chrono_literals;

// Frames taken at most in one go, so that stops, limits and the outputs' clocks are served in
// between.
constexpr std::size_t kMaxFramesAtOnce = ILiveFeed::kMaxWaitingFrames;

// Reasons after which no frame goes to the outputs any more, not even those the module sent
// before it stopped.
bool EndsTaking(RunStop reason) {
    return reason == RunStop::kFrameLimit || reason == RunStop::kSinkEnded ||
           reason == RunStop::kSinkFailed || reason == RunStop::kSourceEnded ||
           reason == RunStop::kSourceFailed;
}
}  // namespace

CFrameRun::CFrameRun(std::unique_ptr<IFrameSource> source)
    : m_source(std::move(source)), m_live(dynamic_cast<ILiveFeed*>(m_source.get())) {}

CFrameRun::~CFrameRun() {
    if (m_thread.joinable()) {
        RequestStop();
        m_thread.join();
    }
}

void CFrameRun::AddSink(std::shared_ptr<IFrameSink> sink, bool isRequired) {
    std::lock_guard lock(m_sinkLock);
    m_added.push_back({std::move(sink), isRequired, false});
    m_hasSinkChanges = true;
}

void CFrameRun::RemoveSink(const IFrameSink* sink) {
    std::lock_guard lock(m_sinkLock);
    m_removed.push_back(sink);
    m_hasSinkChanges = true;
}

void CFrameRun::ApplySinkChanges() {
    if (!m_hasSinkChanges.exchange(false)) {
        return;
    }
    std::vector<SinkEntry> added;
    std::vector<const IFrameSink*> removed;
    {
        std::lock_guard lock(m_sinkLock);
        added.swap(m_added);
        removed.swap(m_removed);
    }
    for (SinkEntry& entry : added) {
        if (m_isBegun) {
            if (Status begun = entry.sink->Begin(); !begun) {
                HandBack(std::move(entry.sink), begun);
                continue;
            }
            entry.isBegun = true;
        }
        m_sinks.push_back(std::move(entry));
    }
    for (const IFrameSink* gone : removed) {
        const auto at =
            std::find_if(m_sinks.begin(), m_sinks.end(),
                         [gone](const SinkEntry& entry) { return entry.sink.get() == gone; });
        if (at == m_sinks.end()) {
            continue;
        }
        std::shared_ptr<IFrameSink> sink = std::move(at->sink);
        const bool wasBegun = at->isBegun;
        m_sinks.erase(at);
        const Status finished = wasBegun ? sink->Finish() : Status();
        HandBack(std::move(sink), finished);
    }
}

void CFrameRun::HandBack(std::shared_ptr<IFrameSink> sink, const Status& status) {
    if (m_hooks != nullptr && m_hooks->sinkFinished) {
        m_hooks->sinkFinished(std::move(sink), status);
    }
}

Status CFrameRun::BeginSinks() {
    m_isBegun = true;
    for (SinkEntry& entry : m_sinks) {
        if (Status begun = entry.sink->Begin(); !begun) {
            return begun;
        }
        entry.isBegun = true;
    }
    m_hasBegun = true;
    return {};
}

int CFrameRun::StopRequests() const {
    return m_stopsAsked.load() + (m_hooks->stopRequests ? m_hooks->stopRequests() : 0);
}

void CFrameRun::End(RunStop reason, const Status& failure) {
    if (m_reason == RunStop::kNone) {
        m_reason = reason;
    }
    if (m_failure.IsOk() && !failure.IsOk()) {
        m_failure = failure;
    }
    if (EndsTaking(reason)) {
        m_isTaking = false;
    }
}

RunEnd CFrameRun::Run(const RunHooks& hooks) {
    m_hooks = &hooks;
    ApplySinkChanges();
    m_streamStart = Clock::now();
    if (m_live != nullptr) {
        if (Status opened = m_live->Open(); !opened) {
            End(RunStop::kSourceFailed, opened);
            StopSequence();
            m_hooks = nullptr;
            return {m_reason, m_failure};
        }
        m_isOpen = true;
        // The source's own notices wait for the stream, here and in the stop sequence: one about
        // the start (an unanswered M) is said once frames come, and not when the start fails.
        const Result<bool> started = m_live->StartStream([this] {
            ServeSinks(Clock::now());
            CheckSinks();
            PassOnNotices(false);
            return m_reason != RunStop::kNone || StopRequests() > 0;
        });
        m_streamStart = m_live->StreamStart();
        if (!started) {
            End(RunStop::kSourceFailed, started.GetStatus());
        } else if (!*started) {
            End(RunStop::kStopAsked);
        }
    }
    if (m_reason == RunStop::kNone) {
        if (Status begun = BeginSinks(); !begun) {
            End(RunStop::kSinkFailed, begun);
        }
    }
    if (m_limits.duration) {
        m_deadline = m_streamStart + *m_limits.duration;
    }
    while (m_reason == RunStop::kNone) {
        Pass();
    }
    StopSequence();
    m_hooks = nullptr;
    return {m_reason, m_failure};
}

void CFrameRun::Pass() {
    ApplySinkChanges();
    if (m_live != nullptr) {
        m_live->Serve();
        Clock::time_point wakeUp = std::min(Clock::now() + kLoopWait, m_nextServe);
        if (m_deadline) {
            wakeUp = std::min(wakeUp, *m_deadline);
        }
        TakeFrames(std::chrono::duration_cast<std::chrono::milliseconds>(
            std::max<Clock::duration>(wakeUp - Clock::now(), 0ms)));
    } else {
        TakeFrames(0ms);
    }
    const Clock::time_point now = Clock::now();
    m_nextServe = ServeSinks(now);
    CheckSinks();
    if (StopRequests() > 0) {
        End(RunStop::kStopAsked);
    } else if (m_deadline && now >= *m_deadline) {
        End(RunStop::kTimeLimit);
    }
    if (m_live != nullptr && m_reason == RunStop::kNone) {
        if (Status link = m_live->CheckLink(); !link) {
            End(RunStop::kModuleLost, link);
        }
    }
    PassOnNotices();
    if (m_hooks->onPass) {
        m_hooks->onPass();
    }
}

void CFrameRun::TakeFrames(std::chrono::milliseconds wait) {
    SourceFrame frame;
    if (m_live == nullptr) {
        // A recording: one frame a pass, so stops and failures are seen between frames.
        if (m_reason != RunStop::kNone) {
            return;
        }
        switch (m_source->Next(frame)) {
            case SourceRead::kFrame:
                Handle(frame);
                break;
            case SourceRead::kEnd:
                End(RunStop::kSourceEnded);
                break;
            case SourceRead::kError:
                End(RunStop::kSourceFailed, Status::CallFailed("read()", m_source->ErrorNumber()));
                break;
            case SourceRead::kTimedOut:
                break;
        }
        return;
    }
    for (std::size_t taken = 0;
         taken < kMaxFramesAtOnce && m_live->NextWithin(frame, wait) == SourceRead::kFrame;
         ++taken) {
        wait = 0ms;
        Handle(frame);
    }
}

void CFrameRun::Handle(const SourceFrame& frame) {
    m_taken.fetch_add(1, std::memory_order_relaxed);
    if (!m_isTaking.load(std::memory_order_relaxed)) {
        m_letGo.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    unsigned needs = 0;
    for (const SinkEntry& entry : m_sinks) {
        needs |= entry.sink->Needs();
    }
    const ProcessedFrame* made = m_entry.Make(frame, needs);
    if (made == nullptr) {
        m_notMade.fetch_add(1, std::memory_order_relaxed);
        if (m_hooks->frameNotMade) {
            m_hooks->frameNotMade(frame);
        }
        return;
    }
    for (std::size_t i = 0; i < m_sinks.size(); ++i) {
        IFrameSink& sink = *m_sinks[i].sink;
        if (Status written = sink.Write(*made); !written) {
            if (m_sinks[i].isRequired) {
                // The frame is no one's once a required output failed with it.
                End(RunStop::kSinkFailed, written);
                m_letGo.fetch_add(1, std::memory_order_relaxed);
                return;
            }
            DropSink(i--, written);
            continue;
        }
        if (m_sinks[i].isRequired && !sink.IsTaking()) {
            End(RunStop::kSinkEnded);
        }
    }
    m_lastFrame = Clock::now();
    const uint64_t processed = m_processed.fetch_add(1, std::memory_order_relaxed) + 1;
    if (m_limits.frames != 0 && processed >= m_limits.frames) {
        End(RunStop::kFrameLimit);
    }
}

CFrameRun::Clock::time_point CFrameRun::ServeSinks(Clock::time_point now) {
    Clock::time_point next = Clock::time_point::max();
    for (const SinkEntry& entry : m_sinks) {
        next = std::min(next, entry.sink->Serve(now));
    }
    return next;
}

void CFrameRun::CheckSinks() {
    for (std::size_t i = 0; i < m_sinks.size(); ++i) {
        IFrameSink& sink = *m_sinks[i].sink;
        Status failure = sink.Failure();
        // Before Begin an output has nothing to take yet, but it may have failed (a broker that
        // refuses the connection).
        if (failure.IsOk() && (!m_sinks[i].isBegun || sink.IsTaking())) {
            continue;
        }
        if (m_sinks[i].isRequired) {
            End(failure.IsOk() ? RunStop::kSinkEnded : RunStop::kSinkFailed, failure);
        } else {
            DropSink(i--, failure);
        }
    }
}

void CFrameRun::DropSink(std::size_t index, const Status& failure) {
    std::shared_ptr<IFrameSink> sink = std::move(m_sinks[index].sink);
    const bool wasBegun = m_sinks[index].isBegun;
    m_sinks.erase(m_sinks.begin() + static_cast<std::ptrdiff_t>(index));
    const Status finished = wasBegun ? sink->Finish() : Status();
    HandBack(std::move(sink), failure.IsOk() ? finished : failure);
}

void CFrameRun::PassOnNotices(bool withSource) {
    if (!m_hooks->notice) {
        return;
    }
    std::vector<std::string> notices;
    if (m_live != nullptr && withSource) {
        notices = m_live->TakeNotices();
    }
    for (const SinkEntry& entry : m_sinks) {
        for (std::string& line : entry.sink->TakeNotices()) {
            notices.push_back(std::move(line));
        }
    }
    for (const std::string& line : notices) {
        m_hooks->notice(line);
    }
}

void CFrameRun::StopSequence() {
    m_stopStart = Clock::now();
    for (const SinkEntry& entry : m_sinks) {
        entry.sink->SourceStopping(m_reason);
    }
    CheckSinks();
    if (m_live != nullptr && m_isOpen) {
        const int stopsBefore = StopRequests();
        m_live->Stop([this, stopsBefore] {
            TakeFrames(0ms);
            ServeSinks(Clock::now());
            CheckSinks();
            PassOnNotices(false);
            // One more stop asked cuts the wait for the module's last frames short.
            return m_isTaking.load() && StopRequests() <= stopsBefore;
        });
        TakeFrames(0ms);
        m_live->Close();
        TakeFrames(0ms);
        ServeSinks(Clock::now());
    }
    m_isTaking = false;
    PassOnNotices();
    m_isBegun = false;  // an output added from now on is not begun, only kept
}

Status CFrameRun::Start(RunHooks hooks, std::function<void(const RunEnd&)> ended) {
    m_ownHooks = std::move(hooks);
    try {
        m_thread = std::thread([this, ended = std::move(ended)] {  // the run's thread
            const RunEnd end = Run(m_ownHooks);
            if (ended) {
                ended(end);
            }
        });
    } catch (const std::system_error& error) {
        return Status::Failure("cannot start the run's thread: " + error.code().message(),
                               error.code().value());
    }
    return {};
}

void CFrameRun::Join() {
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

Status CFrameRun::FinishSinks() {
    ApplySinkChanges();  // an output removed at the very end is finished with the others
    for (SinkEntry& entry : m_sinks) {
        if (!entry.isBegun) {
            continue;
        }
        entry.isBegun = false;
        if (Status finished = entry.sink->Finish(); !finished) {
            return finished;
        }
    }
    return {};
}

RunCounts CFrameRun::Counts() const {
    RunCounts counts;
    counts.taken = m_taken.load();
    counts.processed = m_processed.load();
    counts.notMade = m_notMade.load();
    counts.letGo = m_letGo.load();
    if (m_live != nullptr) {
        counts.received = m_live->Received();
        counts.dropped = m_live->Dropped();
    }
    return counts;
}
