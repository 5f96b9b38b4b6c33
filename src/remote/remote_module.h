#pragma once
// CRemoteModule: a module that another machine publishes on an MQTT broker (`thermal publish`),
// seen as the local module session is seen: its frames, its text replies, and commands sent to
// it. Subscribing is all it does to the module: TURN OFF and close only unsubscribe, and the
// module, which may have other viewers, goes on streaming.
//
// Frame payloads that are not whole records are dropped and counted, never handed on. What the
// broker and the publisher say (unreachable, refused, the module offline) comes as one line per
// change. Lines about what anyone on the broker may send over and over (payloads that are no
// frames, statuses that are not a publisher's) are limited: the first few, then a count every
// few seconds (CNoticeLimiter), and what is left at Stop. Threads: Start, Stop and the destructor
// on one owner thread; SendCommand from any thread. The callbacks run on the client's network
// thread.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/notice_limiter.h"
#include "platform/status.h"
#include "remote/frame_payload.h"
#include "remote/mqtt_address.h"
#include "remote/mqtt_client.h"

struct RemoteModuleCallbacks {
    // A whole frame: as CModuleSession's frame callback (`count` is kFrameBlockSize).
    std::function<void(char modeLetter, const uint8_t* block, int count)> frame;
    // A text reply of the module, as published on PREFIX/reply.
    std::function<void(const std::string& text)> reply;
    // One line about the broker or the publisher: "connected to broker HOST:PORT", "the broker
    // HOST:PORT went away", "the module is offline", "the module is online on PORT (M reply)".
    std::function<void(const std::string& line)> notice;
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
    bool IsConnected() const;
    const MqttModuleAddress& Address() const { return m_address; }

    // A reply longer than this is dropped with a notice: the module's longest, the calibration
    // table, is a few tens of KiB.
    static constexpr std::size_t kMaxReplyBytes = 1 << 20;

  private:
    void OnConnected();
    void OnMessage(const std::string& topic, const uint8_t* payload, std::size_t size);
    void OnStatus(const uint8_t* payload, std::size_t size);
    // Passes `line` to the notice callback unless it repeats the last status line; through
    // m_badStatuses when `isLimited`.
    void NoticeStatus(std::string line, bool isLimited);
    // Passes `line` to the notice callback, unless empty.
    void Notice(const std::string& line);

    const MqttModuleAddress m_address;
    const RemoteModuleCallbacks m_callbacks;
    const int m_qos;
    const std::string m_frameTopic;
    const std::string m_replyTopic;
    const std::string m_statusTopic;
    const std::string m_commandTopic;
    std::atomic<uint64_t> m_framesReceived{0};
    std::atomic<uint64_t> m_payloadsDropped{0};
    std::unique_ptr<CMqttClient> m_client;

    // Network thread only (and Stop, once it has ended): what was last said, so that each change
    // is said once, and how many lines came lately.
    std::string m_lastStatusLine;
    PayloadFault m_lastDropFault = PayloadFault::kNone;
    CNoticeLimiter m_badPayloads{"bad payloads"};
    CNoticeLimiter m_badStatuses{"statuses not understood"};
};
