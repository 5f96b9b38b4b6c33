#pragma once
// CMqttClient: one MQTT v5 connection to a broker through libmosquitto, kept up on a network
// thread of its own: it connects in the background, reconnects with back-off (1 s doubling to
// 30 s) whenever the broker cannot be reached or goes away, and says so once per change. A
// refusal that no retry can mend (a wrong password, no user where one is required, not
// authorised, a certificate that does not check out, TLS against a port without it) ends the
// attempts for good and is said once, with the broker's or the TLS library's reason. The thread
// drives libmosquitto's loop itself rather than leaving it to the library's thread, which gives
// up for good on a failed name lookup and says nothing about failed attempts. Publishing while
// not connected, or with kMaxPendingPublishes messages not yet sent, fails at once rather than
// queueing without bound. TLS with a CA file, user name and password, a last will and a
// persistent session are set before Start.
//
// Threads: Start, Stop and the destructor on one owner thread; Publish, Subscribe, Unsubscribe
// and Sync from any thread. The callbacks run on the network thread, one at a time; they must
// not call Stop.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/status.h"
#include "remote/mqtt_address.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;  // libmosquitto's mosquitto_property
struct MosquittoLibrary;

struct MqttWill {
    std::string topic;
    std::string payload;
    int qos = 1;
    bool retain = true;
};

// An MQTT v5 user property: a name and a value that travel beside a message's payload.
struct MqttUserProperty {
    std::string name;
    std::string value;
};

struct MqttMessage {
    std::string topic;
    const uint8_t* payload = nullptr;  // `size` bytes, valid during the callback only
    std::size_t size = 0;
    bool isRetained = false;  // kept by the broker from before the subscription was made
    std::vector<MqttUserProperty> properties;

    // The value of the first user property called `name`, or null.
    const std::string* Property(std::string_view name) const;
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
    // 0: a clean session, which the broker forgets at every disconnection. Above 0 (needs a
    // client id): a persistent session; the broker keeps this client's subscriptions and queues
    // the QoS 1 messages it misses for this long after each disconnection, and Stop ends it.
    uint32_t sessionExpirySeconds = 0;
};

struct MqttClientCallbacks {
    // Connected, first or again: subscriptions are made here (a clean session forgets them).
    std::function<void()> connected{};
    // The connection failed or was lost; `why` is one line ("lost the connection to the broker
    // HOST:PORT: ...", "cannot reach the broker HOST:PORT: Connection refused"). Reconnecting
    // goes on by itself.
    std::function<void(const std::string& why)> disconnected{};
    // A refusal no retry mends ("the broker HOST:PORT refused the connection: not authorized",
    // "TLS with the broker HOST:PORT failed: certificate verify failed (certificate has
    // expired)"): no further attempt is made.
    std::function<void(const std::string& why)> refused{};
    std::function<void(const MqttMessage& message)> message{};
    // The broker has answered the Sync that returned `token`.
    std::function<void(int token)> synced{};
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
    // Publishes `finalMessage` (if given, e.g. a clean "offline" status), reads what the broker
    // sent until then, disconnects cleanly so the broker does not send the will and forgets a
    // persistent session, and ends the network thread; a second or so at most. Idempotent.
    void Stop(const std::optional<MqttWill>& finalMessage = std::nullopt);

    // False when not connected or the library refused it.
    bool Publish(const std::string& topic, const void* payload, std::size_t size, int qos,
                 bool retain, const std::vector<MqttUserProperty>& properties = {});
    bool Subscribe(const std::string& topic, int qos);
    bool Unsubscribe(const std::string& topic);
    // Asks the broker for an answer that comes after everything it sends for the requests made
    // before on this connection, the retained messages of a subscription included; `synced`
    // gets the returned token then. Nothing when not connected.
    std::optional<int> Sync();
    bool IsConnected() const { return m_isConnected.load(); }
    // The refusal no retry mends, once there has been one.
    bool IsRefused() const { return m_isRefused.load(); }
    std::string Refusal() const;

    // Messages handed to the library and not yet sent (QoS 0) or acknowledged (QoS 1) beyond
    // which Publish fails: about two seconds of frames at 100 per second.
    static constexpr int kMaxPendingPublishes = 256;

  private:
    static void OnConnect(mosquitto* client, void* self, int code, int flags,
                          const mqtt5__property* props);
    static void OnDisconnect(mosquitto* client, void* self, int code);
    static void OnPublish(mosquitto* client, void* self, int messageId);
    static void OnMessage(mosquitto* client, void* self, const mosquitto_message* message,
                          const mqtt5__property* props);
    static void OnUnsubscribe(mosquitto* client, void* self, int messageId);
    static void OnLog(mosquitto* client, void* self, int level, const char* text);

    void NetworkLoop();
    // One connection attempt (network thread): a library return code, errno set for
    // MOSQ_ERR_ERRNO.
    int Connect();
    // 0 once a TCP connection to the broker opens; else MOSQ_ERR_EAI (no address for the name)
    // or MOSQ_ERR_ERRNO with errno saying why (network thread).
    int ProbeBroker();
    // What the library and OpenSSL said about the TLS failure just seen, as one clause.
    std::string TlsFailure();
    // Tells the callbacks `why` unless it is what they were told last (network thread).
    void ReportFailure(const std::string& why);
    // Ends the attempts for good with `why` (network thread).
    void Refuse(const std::string& why);
    // Sleeps the back-off delay, or less when Stop wakes it, and doubles the next one.
    void WaitToRetry();
    std::string BrokerName() const;

    const MqttClientOptions m_options;
    const MqttClientCallbacks m_callbacks;
    const MosquittoLibrary* m_library = nullptr;  // loaded by the first Start
    mosquitto* m_client = nullptr;                // owner thread creates and destroys it
    std::atomic<bool> m_isConnected{false};
    std::atomic<bool> m_isRefused{false};
    std::atomic<int> m_pendingPublishes{0};
    std::atomic<int> m_lastSynced{-1};  // the token of the sync the broker answered last
    bool m_isStarted = false;           // owner thread
    std::thread m_networkThread;        // runs NetworkLoop from Start to Stop

    std::mutex m_stopLock;  // guards m_isStopping for the back-off wait
    std::condition_variable m_stopWake;
    std::atomic<bool> m_isStopping{false};

    mutable std::mutex m_refusalLock;  // guards m_refusal, set on the network thread
    std::string m_refusal;

    std::mutex m_tlsErrorLock;             // guards m_tlsErrors: the library logs on any thread
    std::vector<std::string> m_tlsErrors;  // the library's error lines of the current attempt

    // Network thread only.
    int m_retryDelaySeconds = 1;
    std::string m_lastFailure;           // the last line given to `disconnected` since connecting
    bool m_isAttemptAnswered = false;    // the broker answered this attempt's CONNECT with a no
    bool m_hasAttemptConnected = false;  // this attempt got as far as a connection
    bool m_hasConnectValues = false;  // a persistent session's values are set: reconnect with them
};
