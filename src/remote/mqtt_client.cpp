#include "remote/mqtt_client.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <system_error>
#include <utility>

#include "platform/one_line.h"
#include "remote/mosquitto_library.h"

namespace {

// How long one pass of the library's loop waits for the socket; publishing from other threads
// wakes it at once, so this only bounds how soon the loop notices Stop.
constexpr int kLoopTimeoutMs = 100;
constexpr int kMaxRetryDelaySeconds = 30;
// How long Stop waits for the final message and anything still pending to leave.
constexpr auto kFinalFlushTime = std::chrono::seconds(1);
// mosquitto_tls_opts_set: check the broker's certificate (OpenSSL's SSL_VERIFY_PEER).
constexpr int kVerifyPeer = 1;

// The library's messages are sentences ("The connection was lost."); ours are clauses.
std::string Clause(const char* text) {
    std::string clause = text != nullptr ? text : "unknown error";
    constexpr std::string_view kRefused = "Connection Refused: ";
    if (clause.compare(0, kRefused.size(), kRefused) == 0) {
        clause.erase(0, kRefused.size());
    }
    while (!clause.empty() && clause.back() == '.') {
        clause.pop_back();
    }
    if (clause.size() > 1 && std::islower(static_cast<unsigned char>(clause[1])) != 0) {
        clause[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(clause[0])));
    }
    return clause;
}

// What a libmosquitto return code means; `error` is errno as it was right after the call.
std::string ErrorText(const MosquittoLibrary& library, int code, int error) {
    if (code == MOSQ_ERR_ERRNO) {
        return std::strerror(error);
    }
    return Clause(library.strerror(code));
}

// Calls a callback of the owner; nothing it throws may unwind through the library's C frames.
template <typename Callback, typename... Args>
void Tell(const Callback& callback, Args&&... args) {
    if (!callback) {
        return;
    }
    try {
        callback(std::forward<Args>(args)...);
    } catch (...) {
    }
}

}  // namespace

CMqttClient::CMqttClient(MqttClientOptions options, MqttClientCallbacks callbacks)
    : m_options(std::move(options)), m_callbacks(std::move(callbacks)) {}

CMqttClient::~CMqttClient() {
    Stop();
    if (m_client != nullptr) {
        m_library->destroy(m_client);
    }
}

std::string CMqttClient::BrokerName() const {
    std::string name = OneLine(m_options.broker.host);
    name.push_back(':');
    name.append(std::to_string(m_options.broker.port));
    return name;
}

Status CMqttClient::Start() {
    if (m_isStarted) {
        return Status();
    }
    if (m_options.broker.host.empty() || m_options.broker.port < 1 ||
        m_options.broker.port > 65535) {
        return Status::Failure("no broker to connect to");
    }
    // The library refuses shorter keep-alive times (0, none, is not for a link that must notice
    // a broker gone quiet).
    if (m_options.keepAliveSeconds < 5) {
        return Status::Failure("the keep-alive time must be 5 seconds or more");
    }
    if (m_client == nullptr) {
        Result<const MosquittoLibrary*> library = Mosquitto();
        if (!library) {
            return library.GetStatus();
        }
        m_library = library.Value();
        const char* id = m_options.clientId.empty() ? nullptr : m_options.clientId.c_str();
        m_client = m_library->new_(id, true, this);
        if (m_client == nullptr) {
            return Status::CallFailed("mosquitto_new()", errno);
        }
        m_library->threaded_set(m_client, true);
        // Frames go out one by one as they come: without this, TCP holds a frame back until the
        // broker acknowledges the one before, which a receiver may delay by up to 40 ms.
        m_library->int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
        m_library->connect_callback_set(m_client, &CMqttClient::OnConnect);
        m_library->disconnect_callback_set(m_client, &CMqttClient::OnDisconnect);
        m_library->publish_callback_set(m_client, &CMqttClient::OnPublish);
        m_library->message_callback_set(m_client, &CMqttClient::OnMessage);
        if (m_options.will) {
            const MqttWill& will = *m_options.will;
            const int code = m_library->will_set(m_client, will.topic.c_str(),
                                                 static_cast<int>(will.payload.size()),
                                                 will.payload.data(), will.qos, will.retain);
            if (code != MOSQ_ERR_SUCCESS) {
                std::string message = "cannot set the last will on '";
                message.append(OneLine(will.topic));
                message.append("': ");
                message.append(ErrorText(*m_library, code, errno));
                return Status::Failure(std::move(message));
            }
        }
        if (!m_options.user.empty()) {
            const char* password =
                m_options.password.empty() ? nullptr : m_options.password.c_str();
            const int code = m_library->username_pw_set(m_client, m_options.user.c_str(), password);
            if (code != MOSQ_ERR_SUCCESS) {
                std::string message = "cannot use the user name: ";
                message.append(ErrorText(*m_library, code, errno));
                return Status::Failure(std::move(message));
            }
        }
        if (!m_options.caFile.empty() || m_options.broker.isTls) {
            // mqtts:// without a CA file of the user's: the system's CA certificates.
            int code = m_options.caFile.empty()
                           ? m_library->int_option(m_client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                           : m_library->tls_set(m_client, m_options.caFile.c_str(), nullptr,
                                                nullptr, nullptr, nullptr);
            if (code == MOSQ_ERR_SUCCESS) {
                code = m_library->tls_opts_set(m_client, kVerifyPeer, nullptr, nullptr);
            }
            if (code == MOSQ_ERR_SUCCESS) {
                code = m_library->tls_insecure_set(m_client, false);
            }
            if (code != MOSQ_ERR_SUCCESS) {
                std::string message =
                    m_options.caFile.empty()
                        ? "cannot use the system's CA certificates: "
                        : "cannot use the CA file '" + OneLine(m_options.caFile) + "': ";
                message.append(code == MOSQ_ERR_INVAL ? "it cannot be read"
                                                      : ErrorText(*m_library, code, errno));
                return Status::Failure(std::move(message));
            }
        }
    }
    m_isStopping = false;
    try {
        m_networkThread = std::thread([this] { NetworkLoop(); });
    } catch (const std::system_error& error) {
        std::string message = "cannot start the network thread: ";
        message.append(error.what());
        return Status::Failure(std::move(message));
    }
    m_isStarted = true;
    return Status();
}

void CMqttClient::Stop(const std::optional<MqttWill>& finalMessage) {
    if (!m_isStarted) {
        return;
    }
    if (finalMessage &&
        Publish(finalMessage->topic, finalMessage->payload.data(), finalMessage->payload.size(),
                finalMessage->qos, finalMessage->retain)) {
        const auto deadline = std::chrono::steady_clock::now() + kFinalFlushTime;
        while (m_pendingPublishes.load() > 0 && m_isConnected.load() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    {
        const std::lock_guard<std::mutex> lock(m_stopLock);
        m_isStopping = true;
    }
    m_stopWake.notify_all();
    m_networkThread.join();
    m_isStarted = false;
}

void CMqttClient::NetworkLoop() {
    m_retryDelaySeconds = 1;
    m_lastFailure.clear();
    while (!m_isStopping.load()) {
        // Asynchronous: the TCP connection completes inside the loop below, so a broker that
        // does not answer holds the thread no longer than the keep-alive time.
        const int code =
            m_library->connect_async(m_client, m_options.broker.host.c_str(), m_options.broker.port,
                                     m_options.keepAliveSeconds);
        if (code != MOSQ_ERR_SUCCESS) {
            const int error = errno;
            std::string why = "cannot reach the broker ";
            why.append(BrokerName());
            why.append(": ");
            why.append(ErrorText(*m_library, code, error));
            ReportFailure(why);
            WaitToRetry();
            continue;
        }
        while (!m_isStopping.load() &&
               m_library->loop(m_client, kLoopTimeoutMs, 1) == MOSQ_ERR_SUCCESS) {
        }
        if (m_isStopping.load()) {
            break;
        }
        m_isConnected = false;
        WaitToRetry();
    }
    // A clean disconnect, so the broker does not send the will: the DISCONNECT goes out on the
    // next passes of the loop.
    if (m_isConnected.load()) {
        m_library->disconnect(m_client);
        for (int pass = 0;
             pass < 10 && m_library->loop(m_client, kLoopTimeoutMs, 1) == MOSQ_ERR_SUCCESS;
             ++pass) {
        }
    }
    m_isConnected = false;
}

void CMqttClient::WaitToRetry() {
    std::unique_lock<std::mutex> lock(m_stopLock);
    m_stopWake.wait_for(lock, std::chrono::seconds(m_retryDelaySeconds),
                        [this] { return m_isStopping.load(); });
    m_retryDelaySeconds = std::min(2 * m_retryDelaySeconds, kMaxRetryDelaySeconds);
}

void CMqttClient::ReportFailure(const std::string& why) {
    if (why == m_lastFailure) {
        return;
    }
    m_lastFailure = why;
    Tell(m_callbacks.disconnected, why);
}

bool CMqttClient::Publish(const std::string& topic, const void* payload, std::size_t size, int qos,
                          bool retain) {
    if (!m_isConnected.load() || size > INT_MAX ||
        m_pendingPublishes.load() >= kMaxPendingPublishes) {
        return false;
    }
    // Counted before the call: the library may report it sent before the call returns.
    ++m_pendingPublishes;
    const int code = m_library->publish(m_client, nullptr, topic.c_str(), static_cast<int>(size),
                                        payload, qos, retain);
    if (code != MOSQ_ERR_SUCCESS) {
        OnPublish(m_client, this, 0);
        return false;
    }
    return true;
}

bool CMqttClient::Subscribe(const std::string& topic, int qos) {
    return m_isConnected.load() &&
           m_library->subscribe(m_client, nullptr, topic.c_str(), qos) == MOSQ_ERR_SUCCESS;
}

bool CMqttClient::Unsubscribe(const std::string& topic) {
    return m_isConnected.load() &&
           m_library->unsubscribe(m_client, nullptr, topic.c_str()) == MOSQ_ERR_SUCCESS;
}

void CMqttClient::OnConnect(mosquitto*, void* self, int code) {
    auto* client = static_cast<CMqttClient*>(self);
    if (code != 0) {
        std::string why = "the broker ";
        why.append(client->BrokerName());
        why.append(" refused the connection: ");
        why.append(Clause(client->m_library->connack_string(code)));
        client->ReportFailure(why);
        return;
    }
    // Whatever was queued on the lost connection is gone without a word from the library.
    client->m_pendingPublishes = 0;
    client->m_retryDelaySeconds = 1;
    client->m_lastFailure.clear();
    client->m_isConnected = true;
    Tell(client->m_callbacks.connected);
}

void CMqttClient::OnDisconnect(mosquitto*, void* self, int code) {
    const int error = errno;
    auto* client = static_cast<CMqttClient*>(self);
    const bool wasConnected = client->m_isConnected.exchange(false);
    // 0: our own disconnect; a refusal was said when the broker answered.
    if (code == MOSQ_ERR_SUCCESS || code == MOSQ_ERR_CONN_REFUSED) {
        return;
    }
    std::string why =
        wasConnected ? "lost the connection to the broker " : "cannot reach the broker ";
    why.append(client->BrokerName());
    why.append(": ");
    why.append(ErrorText(*client->m_library, code, error));
    client->ReportFailure(why);
}

void CMqttClient::OnPublish(mosquitto*, void* self, int) {
    auto* client = static_cast<CMqttClient*>(self);
    int pending = client->m_pendingPublishes.load();
    while (pending > 0 && !client->m_pendingPublishes.compare_exchange_weak(pending, pending - 1)) {
    }
}

void CMqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto* client = static_cast<CMqttClient*>(self);
    if (message == nullptr || message->topic == nullptr || message->payloadlen < 0) {
        return;
    }
    Tell(client->m_callbacks.message, std::string(message->topic),
         static_cast<const uint8_t*>(message->payload),
         static_cast<std::size_t>(message->payloadlen));
}
