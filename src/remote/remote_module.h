#pragma once
// CRemoteModule: a module that another machine publishes on an MQTT broker (`thermal publish`),
// seen as the local module session is seen: its frames, its text replies, and commands sent to
// it. Subscribing is all it does to the module: TURN OFF and close only unsubscribe, and the
// module, which may have other viewers, goes on streaming.
//
// Frame payloads that are not whole records are dropped and counted, never handed on. Frames are
// taken from one publisher run at a time (CRunFollower): those of another run are dropped and
// counted, a frame sent twice is taken once, and the frames missing from the run's numbering are
// counted and said. What the broker and the publisher say (unreachable, refused, the module
// offline or stopped, another run) comes as one line per change. Lines about what anyone on the
// broker may send over and over (payloads that are no frames, statuses that are not a
// publisher's) are limited: the first few, then a count every few seconds (CNoticeLimiter), and
// what is left at Stop. Threads: Start, Stop and the destructor on one owner thread; SendCommand
// and the counts from any thread. The callbacks run on the client's network thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/notice_limiter.h"
#include "platform/status.h"
#include "remote/frame_payload.h"
#include "remote/module_status.h"
#include "remote/mqtt_address.h"
#include "remote/mqtt_client.h"
#include "remote/run_follower.h"

struct RemoteModuleCallbacks {
    // A whole frame: as CModuleSession's frame callback (`count` is kFrameBlockSize).
    std::function<void(char modeLetter, const uint8_t* block, int count)> frame;
    // A text reply of the module, as published on PREFIX/reply.
    std::function<void(const std::string& text)> reply;
    // One line about the broker or the publisher: "connected to broker HOST:PORT", "the broker
    // HOST:PORT went away", "the module is offline", "the module is online on PORT (M reply)".
    std::function<void(const std::string& line)> notice;
    // Every status of the run followed (or of a publisher that names no run), after its notice.
    std::function<void(const ModuleStatus& status)> status;
};

class CRemoteModule {
  public:
    // `qos` is what the subscriptions ask of the broker: 0 (frames may be lost when the network
    // or a subscriber falls behind) or 1 (each frame at least once). The connection goes to the
    // broker of `address`, whatever `options` says.
    CRemoteModule(MqttModuleAddress address, MqttClientOptions options,
                  RemoteModuleCallbacks callbacks, int qos = 0);
    ~CRemoteModule();

    // Connects in the background and subscribes to PREFIX/frame, PREFIX/reply and PREFIX/status
    // once connected (and again after every reconnection).
    Status Start();
    // Unsubscribes and disconnects. Idempotent.
    void Stop();

    // Publishes a single command letter on PREFIX/command, as the command box sends it. False
    // when not connected.
    bool SendCommand(char letter);

    // Any thread.
    uint64_t FramesReceived() const { return m_framesReceived.load(); }
    uint64_t PayloadsDropped() const { return m_payloadsDropped.load(); }
    // Frames the run followed numbered but that never came, and the gaps they came in.
    uint64_t FramesMissing() const { return m_framesMissing.load(); }
    uint64_t Gaps() const { return m_gaps.load(); }
    // Frames of another publisher run than the one followed, dropped.
    uint64_t FramesOfOtherRuns() const { return m_framesOfOtherRuns.load(); }
    bool IsConnected() const;
    // The broker or TLS refused the connection for good; Refusal() says why.
    bool IsRefused() const { return m_client->IsRefused(); }
    std::string Refusal() const { return m_client->Refusal(); }
    const MqttModuleAddress& Address() const { return m_address; }

    // A reply longer than this is dropped with a notice: the module's longest, the calibration
    // table, is a few tens of KiB.
    static constexpr std::size_t kMaxReplyBytes = 1 << 20;
    // The shortest time between two lines about missing frames: a lossy link loses some often.
    static constexpr auto kGapNoticePeriod = std::chrono::seconds(10);

  private:
    void OnConnected();
    void OnMessage(const MqttMessage& message);
    // Whether a whole frame is the next of the run followed (not one of another run, nor one
    // taken before); counts what it is not and what is missing before it.
    bool IsNextOfRunFollowed(const MqttMessage& message);
    void OnStatus(const uint8_t* payload, std::size_t size);
    // Passes `line` to the notice callback unless it repeats the last status line; through
    // m_badStatuses when `isLimited`.
    void NoticeStatus(std::string line, bool isLimited);
    // Passes `line` to the notice callback, unless empty.
    void Notice(const std::string& line);
    // Says the frames missing so far, unless it did so less than kGapNoticePeriod ago.
    void NoticeGaps();

    const MqttModuleAddress m_address;
    const RemoteModuleCallbacks m_callbacks;
    const int m_qos;
    const std::string m_frameTopic;
    const std::string m_replyTopic;
    const std::string m_statusTopic;
    const std::string m_commandTopic;
    std::atomic<uint64_t> m_framesReceived{0};
    std::atomic<uint64_t> m_payloadsDropped{0};
    std::atomic<uint64_t> m_framesMissing{0};
    std::atomic<uint64_t> m_gaps{0};
    std::atomic<uint64_t> m_framesOfOtherRuns{0};
    std::unique_ptr<CMqttClient> m_client;

    // Network thread only (and Stop, once it has ended): the run followed, what was last said,
    // so that each change is said once, and how many lines came lately.
    CRunFollower m_follower;
    std::string m_lastStatusLine;
    PayloadFault m_lastDropFault = PayloadFault::kNone;
    CNoticeLimiter m_badPayloads{"bad payloads"};
    CNoticeLimiter m_badStatuses{"statuses not understood"};
    uint64_t m_gapsSaid = 0;
    std::chrono::steady_clock::time_point m_nextGapNotice;
    bool m_hasSaidOtherRun = false;  // about frames of another run, since the last change of run
};
