#pragma once
// CMqttClient: one connection to an MQTT broker through libmosquitto, kept up on libmosquitto's
// own network thread: it connects in the background, reconnects with back-off (1 s doubling to
// 30 s) whenever the broker goes away, and says so. Publishing while not connected fails at once
// rather than queueing without bound. TLS with a CA file, user name and password, and a last
// will are set before Start.
//
// Threads: Start, Stop and the destructor on one owner thread; Publish, Subscribe and
// Unsubscribe from any thread. The callbacks run on the network thread, one at a time; they must
// not call Stop.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/status.h"
#include "remote/mqtt_address.h"

struct mosquitto;

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
    std::string caFile;  // not empty: TLS, the broker's certificate checked against this CA
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

  private:
    static void OnConnect(mosquitto* client, void* self, int code);
    static void OnDisconnect(mosquitto* client, void* self, int code);
    static void OnMessage(mosquitto* client, void* self, const struct mosquitto_message* message);

    const MqttClientOptions m_options;
    const MqttClientCallbacks m_callbacks;
    mosquitto* m_client = nullptr;  // owner thread creates and destroys it
    std::atomic<bool> m_isConnected{false};
    bool m_isStarted = false;  // owner thread
};
