#pragma once
// CMqttClient: one connection to an MQTT broker through libmosquitto, kept up on a network
// thread of its own: it connects in the background, reconnects with back-off (1 s doubling to
// 30 s) whenever the broker cannot be reached or goes away, and says so once per change. The
// thread drives libmosquitto's loop itself rather than leaving it to the library's thread, which
// gives up for good on a failed name lookup or TLS handshake and says nothing about failed
// attempts. Publishing while not connected, or with kMaxPendingPublishes messages not yet sent,
// fails at once rather than queueing without bound. TLS with a CA file, user name and password,
// and a last will are set before Start.
//
// Threads: Start, Stop and the destructor on one owner thread; Publish, Subscribe and
// Unsubscribe from any thread. The callbacks run on the network thread, one at a time; they must
// not call Stop.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/status.h"
#include "remote/mqtt_address.h"

struct mosquitto;
struct MosquittoLibrary;

struct MqttWill {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
};

struct MqttClientOptions {
    MqttBroker broker;
    std::string clientId;  // empty: the library makes one up
    std::string user;      // empty: no user name or password
    std::string password;
    // Not empty: TLS, the broker's certificate checked against this CA; empty with an mqtts://
    // broker: TLS checked against the system's CA certificates.
    std::string caFile;
    std::optional<MqttWill> will;
    int keepAliveSeconds = 10;
};

struct MqttClientCallbacks {
    // Connected, first or again: subscriptions are made here (a clean session forgets them).
    std::function<void()> connected;
    // The connection failed or was lost; `why` is one line ("connection refused: not
    // authorised", "the broker went away"). Reconnecting goes on by itself.
    std::function<void(const std::string& why)> disconnected;
    std::function<void(const std::string& topic, const uint8_t* payload, std::size_t size)> message;
};

class CMqttClient {
  public:
    CMqttClient(MqttClientOptions options, MqttClientCallbacks callbacks);
    // Stops (see Stop).
    ~CMqttClient();
    CMqttClient(const CMqttClient&) = delete;
    CMqttClient& operator=(const CMqttClient&) = delete;

    // Starts connecting in the background. Fails only for what no retry mends: a bad option, an
    // unreadable CA file, no thread.
    Status Start();
    // Publishes `finalMessage` (if given, e.g. a clean "offline" status), disconnects cleanly so
    // the broker does not send the will, and ends the network thread. Idempotent.
    void Stop(const std::optional<MqttWill>& finalMessage = std::nullopt);

    // False when not connected or the library refused it.
    bool Publish(const std::string& topic, const void* payload, std::size_t size, int qos,
                 bool retain);
    bool Subscribe(const std::string& topic, int qos);
    bool Unsubscribe(const std::string& topic);
    bool IsConnected() const { return m_isConnected.load(); }

    // Messages handed to the library and not yet sent (QoS 0) or acknowledged (QoS 1) beyond
    // which Publish fails: about two seconds of frames at 100 per second.
    static constexpr int kMaxPendingPublishes = 256;

  private:
    static void OnConnect(mosquitto* client, void* self, int code);
    static void OnDisconnect(mosquitto* client, void* self, int code);
    static void OnPublish(mosquitto* client, void* self, int messageId);
    static void OnMessage(mosquitto* client, void* self, const struct mosquitto_message* message);

    void NetworkLoop();
    // Tells the callbacks `why` unless it is what they were told last (network thread).
    void ReportFailure(const std::string& why);
    // Sleeps the back-off delay, or less when Stop wakes it, and doubles the next one.
    void WaitToRetry();
    std::string BrokerName() const;

    const MqttClientOptions m_options;
    const MqttClientCallbacks m_callbacks;
    const MosquittoLibrary* m_library = nullptr;  // loaded by the first Start
    mosquitto* m_client = nullptr;                // owner thread creates and destroys it
    std::atomic<bool> m_isConnected{false};
    std::atomic<int> m_pendingPublishes{0};
    bool m_isStarted = false;     // owner thread
    std::thread m_networkThread;  // runs NetworkLoop from Start to Stop

    std::mutex m_stopLock;  // guards m_isStopping for the back-off wait
    std::condition_variable m_stopWake;
    std::atomic<bool> m_isStopping{false};

    // Network thread only.
    int m_retryDelaySeconds = 1;
    std::string m_lastFailure;  // the last line given to `disconnected` since connecting
};
