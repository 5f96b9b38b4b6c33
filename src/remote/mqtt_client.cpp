#include "remote/mqtt_client.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
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
// OpenSSL's X509_V_OK: the certificate chain checked out.
constexpr long kCertificateOk = 0;
// The library's error lines kept per attempt: a TLS failure gives one or two.
constexpr std::size_t kMaxTlsErrors = 4;
// What Sync unsubscribes from: no client here ever subscribes to it, so the request changes
// nothing and only its answer matters.
constexpr char kSyncTopic[] = "thermal/sync";

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

// What a libmosquitto return code, or an MQTT v5 reason code of the broker's (128 and above),
// means; `error` is errno as it was right after the call.
std::string ErrorText(const MosquittoLibrary& library, int code, int error) {
    if (code == MOSQ_ERR_ERRNO) {
        return std::strerror(error);
    }
    if (code >= MQTT_RC_UNSPECIFIED) {
        return Clause(library.reason_string(code));
    }
    return Clause(library.strerror(code));
}

// The broker's answers to CONNECT that the same CONNECT will always get again. Busy, unavailable
// or over a quota may pass.
bool IsPermanentRefusal(int reason) {
    switch (reason) {
        case MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION:
        case MQTT_RC_CLIENTID_NOT_VALID:
        case MQTT_RC_BAD_USERNAME_OR_PASSWORD:
        case MQTT_RC_NOT_AUTHORIZED:
        case MQTT_RC_BANNED:
        case MQTT_RC_BAD_AUTHENTICATION_METHOD:
            return true;
        default:
            return false;
    }
}

// "OpenSSL Error[0]: error:0A000086:SSL routines::certificate verify failed" gives OpenSSL's
// reason, "certificate verify failed"; "Error: host name verification failed." its clause.
std::string TlsErrorClause(std::string_view line) {
    constexpr std::string_view kOpenSsl = "OpenSSL Error";
    constexpr std::string_view kError = "Error: ";
    if (line.compare(0, kOpenSsl.size(), kOpenSsl) == 0) {
        const std::size_t reason = line.rfind(':');
        if (reason != std::string_view::npos) {
            line.remove_prefix(reason + 1);
        }
    } else if (line.compare(0, kError.size(), kError) == 0) {
        line.remove_prefix(kError.size());
    }
    return Clause(std::string(line).c_str());
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

const std::string* MqttMessage::Property(std::string_view name) const {
    for (const MqttUserProperty& property : properties) {
        if (property.name == name) {
            return &property.value;
        }
    }
    return nullptr;
}

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
    // The broker finds a session again by its client id only.
    if (m_options.sessionExpirySeconds > 0 && m_options.clientId.empty()) {
        return Status::Failure("a persistent session needs a client id");
    }
    if (m_client == nullptr) {
        Result<const MosquittoLibrary*> library = Mosquitto();
        if (!library) {
            return library.GetStatus();
        }
        m_library = library.Value();
        const char* id = m_options.clientId.empty() ? nullptr : m_options.clientId.c_str();
        m_client = m_library->new_(id, m_options.sessionExpirySeconds == 0, this);
        if (m_client == nullptr) {
            return Status::CallFailed("mosquitto_new()", errno);
        }
        // Version 5 carries properties beside a payload (a frame's sequence number) and names
        // the broker's reason for a refusal.
        m_library->int_option(m_client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        m_library->threaded_set(m_client, true);
        // Frames go out one by one as they come: without this, TCP holds a frame back until the
        // broker acknowledges the one before, which a receiver may delay by up to 40 ms.
        m_library->int_option(m_client, MOSQ_OPT_TCP_NODELAY, 1);
        m_library->connect_v5_callback_set(m_client, &CMqttClient::OnConnect);
        m_library->disconnect_callback_set(m_client, &CMqttClient::OnDisconnect);
        m_library->publish_callback_set(m_client, &CMqttClient::OnPublish);
        m_library->message_v5_callback_set(m_client, &CMqttClient::OnMessage);
        m_library->unsubscribe_callback_set(m_client, &CMqttClient::OnUnsubscribe);
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
            // The library tells why a handshake failed only in its log.
            m_library->log_callback_set(m_client, &CMqttClient::OnLog);
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
    const auto deadline = std::chrono::steady_clock::now() + kFinalFlushTime;
    if (finalMessage &&
        Publish(finalMessage->topic, finalMessage->payload.data(), finalMessage->payload.size(),
                finalMessage->qos, finalMessage->retain)) {
        while (m_pendingPublishes.load() > 0 && m_isConnected.load() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Whatever the broker sent before its answer has been read once the answer is in: a
    // connection closed with messages unread is reset, and the broker may lose the DISCONNECT
    // on its way (and with it the end of a persistent session).
    if (const std::optional<int> token = Sync()) {
        while (m_lastSynced.load() != *token && m_isConnected.load() &&
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

int CMqttClient::ProbeBroker() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const std::string port = std::to_string(m_options.broker.port);
    if (::getaddrinfo(m_options.broker.host.c_str(), port.c_str(), &hints, &addresses) != 0) {
        return MOSQ_ERR_EAI;
    }
    int error = EHOSTUNREACH;
    for (const addrinfo* address = addresses; address != nullptr && error != 0;
         address = address->ai_next) {
        const int fd =
            ::socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                     address->ai_protocol);
        if (fd < 0) {
            error = errno;
            continue;
        }
        error = ::connect(fd, address->ai_addr, address->ai_addrlen) == 0 ? 0 : errno;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(m_options.keepAliveSeconds);
        while (error == EINPROGRESS && !m_isStopping.load() &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd wait{fd, POLLOUT, 0};
            if (::poll(&wait, 1, kLoopTimeoutMs) > 0) {
                socklen_t length = sizeof error;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            }
        }
        ::close(fd);
        if (error == EINPROGRESS) {
            // The library's own connection would wait on this address as long as the kernel
            // lets it: no attempt until it answers.
            error = ETIMEDOUT;
            break;
        }
    }
    ::freeaddrinfo(addresses);
    if (error == 0) {
        return MOSQ_ERR_SUCCESS;
    }
    errno = error;
    return MOSQ_ERR_ERRNO;
}

int CMqttClient::Connect() {
    const MqttBroker& broker = m_options.broker;
    // Asynchronous: the TCP connection completes inside the loop, so a broker that does not
    // answer holds the thread no longer than the keep-alive time.
    if (m_options.sessionExpirySeconds == 0) {
        return m_library->connect_async(m_client, broker.host.c_str(), broker.port,
                                        m_options.keepAliveSeconds);
    }
    if (m_hasConnectValues) {
        return m_library->reconnect_async(m_client);
    }
    // Only the blocking connect takes the session's expiry (a CONNECT property), and
    // reconnections reuse it without blocking. It is made once the broker has answered on its
    // port, so that it does not wait on an address that never answers, which Stop could not cut
    // short.
    if (const int code = ProbeBroker(); code != MOSQ_ERR_SUCCESS) {
        return code;
    }
    mosquitto_property* properties = nullptr;
    int code = m_library->property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL,
                                             m_options.sessionExpirySeconds);
    if (code == MOSQ_ERR_SUCCESS) {
        code = m_library->connect_bind_v5(m_client, broker.host.c_str(), broker.port,
                                          m_options.keepAliveSeconds, nullptr, properties);
        m_hasConnectValues = true;
    }
    const int error = errno;
    m_library->property_free_all(&properties);
    errno = error;
    return code;
}

void CMqttClient::NetworkLoop() {
    m_retryDelaySeconds = 1;
    m_lastFailure.clear();
    while (!m_isStopping.load() && !m_isRefused.load()) {
        {
            const std::lock_guard<std::mutex> lock(m_tlsErrorLock);
            m_tlsErrors.clear();
        }
        m_isAttemptAnswered = false;
        m_hasAttemptConnected = false;
        int code = Connect();
        if (code == MOSQ_ERR_SUCCESS) {
            while (!m_isStopping.load() &&
                   (code = m_library->loop(m_client, kLoopTimeoutMs, 1)) == MOSQ_ERR_SUCCESS) {
            }
            if (m_isStopping.load()) {
                break;
            }
            m_isConnected = false;
        } else if (code != MOSQ_ERR_TLS) {
            const int error = errno;
            std::string why = "cannot reach the broker ";
            why.append(BrokerName());
            why.append(": ");
            why.append(ErrorText(*m_library, code, error));
            ReportFailure(why);
        }
        // A handshake that failed fails the same way again: the CA, the broker's certificate or
        // its name, or a port without TLS, has to change first.
        if (code == MOSQ_ERR_TLS && !m_hasAttemptConnected) {
            Refuse(TlsFailure());
        }
        if (m_isRefused.load()) {
            break;
        }
        WaitToRetry();
    }
    // A clean disconnect, so the broker does not send the will. A recorder that ends asks the
    // broker to forget its session rather than queue for it until the session expires. The
    // DISCONNECT is written before anything more is read: once disconnecting, the library takes
    // a message still on its way for a fault and drops the connection without it.
    if (m_isConnected.load()) {
        mosquitto_property* properties = nullptr;
        if (m_options.sessionExpirySeconds > 0) {
            m_library->property_add_int32(&properties, MQTT_PROP_SESSION_EXPIRY_INTERVAL, 0);
        }
        m_library->disconnect_v5(m_client, MQTT_RC_NORMAL_DISCONNECTION, properties);
        m_library->property_free_all(&properties);
        m_library->loop_write(m_client, 1);
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

void CMqttClient::Refuse(const std::string& why) {
    {
        const std::lock_guard<std::mutex> lock(m_refusalLock);
        m_refusal = why;
    }
    m_isRefused = true;
    Tell(m_callbacks.refused, why);
}

std::string CMqttClient::Refusal() const {
    const std::lock_guard<std::mutex> lock(m_refusalLock);
    return m_refusal;
}

std::string CMqttClient::TlsFailure() {
    std::string why = "TLS with the broker ";
    why.append(BrokerName());
    why.append(" failed: ");
    const std::lock_guard<std::mutex> lock(m_tlsErrorLock);
    if (m_tlsErrors.empty()) {
        why.append(ErrorText(*m_library, MOSQ_ERR_TLS, 0));
    }
    for (std::size_t i = 0; i < m_tlsErrors.size(); ++i) {
        why.append(i > 0 ? "; " : "");
        why.append(m_tlsErrors[i]);
    }
    return why;
}

bool CMqttClient::Publish(const std::string& topic, const void* payload, std::size_t size, int qos,
                          bool retain, const std::vector<MqttUserProperty>& properties) {
    if (!m_isConnected.load() || size > INT_MAX ||
        m_pendingPublishes.load() >= kMaxPendingPublishes) {
        return false;
    }
    mosquitto_property* list = nullptr;
    for (const MqttUserProperty& property : properties) {
        if (m_library->property_add_string_pair(&list, MQTT_PROP_USER_PROPERTY,
                                                property.name.c_str(),
                                                property.value.c_str()) != MOSQ_ERR_SUCCESS) {
            m_library->property_free_all(&list);
            return false;
        }
    }
    // Counted before the call: the library may report it sent before the call returns.
    ++m_pendingPublishes;
    const int code = m_library->publish_v5(m_client, nullptr, topic.c_str(), static_cast<int>(size),
                                           payload, qos, retain, list);
    m_library->property_free_all(&list);
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

std::optional<int> CMqttClient::Sync() {
    int token = 0;
    // The broker answers a client's requests in the order they came, each once everything it
    // sends for it has been queued.
    if (!m_isConnected.load() ||
        m_library->unsubscribe(m_client, &token, kSyncTopic) != MOSQ_ERR_SUCCESS) {
        return std::nullopt;
    }
    return token;
}

void CMqttClient::OnConnect(mosquitto*, void* self, int code, int, const mqtt5__property*) {
    auto* client = static_cast<CMqttClient*>(self);
    if (code != 0) {
        client->m_isAttemptAnswered = true;
        std::string why = "the broker ";
        why.append(client->BrokerName());
        why.append(" refused the connection: ");
        why.append(Clause(client->m_library->reason_string(code)));
        if (IsPermanentRefusal(code)) {
            client->Refuse(why);
        } else {
            client->ReportFailure(why);
        }
        return;
    }
    // Whatever was queued on the lost connection is gone without a word from the library.
    client->m_pendingPublishes = 0;
    client->m_retryDelaySeconds = 1;
    client->m_lastFailure.clear();
    client->m_hasAttemptConnected = true;
    client->m_isConnected = true;
    Tell(client->m_callbacks.connected);
}

void CMqttClient::OnDisconnect(mosquitto*, void* self, int code) {
    const int error = errno;
    auto* client = static_cast<CMqttClient*>(self);
    const bool wasConnected = client->m_isConnected.exchange(false);
    // 0: our own disconnect. The broker's answer to CONNECT was said when it came, and a failed
    // handshake is the network loop's to say.
    if (code == MOSQ_ERR_SUCCESS || client->m_isAttemptAnswered ||
        (code == MOSQ_ERR_TLS && !client->m_hasAttemptConnected)) {
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

void CMqttClient::OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                            const mqtt5__property* props) {
    auto* client = static_cast<CMqttClient*>(self);
    if (message == nullptr || message->topic == nullptr || message->payloadlen < 0) {
        return;
    }
    try {
        MqttMessage received;
        received.topic = message->topic;
        received.payload = static_cast<const uint8_t*>(message->payload);
        received.size = static_cast<std::size_t>(message->payloadlen);
        received.isRetained = message->retain;
        const MosquittoLibrary& library = *client->m_library;
        char* name = nullptr;
        char* value = nullptr;
        for (const mosquitto_property* property = library.property_read_string_pair(
                 props, MQTT_PROP_USER_PROPERTY, &name, &value, false);
             property != nullptr; property = library.property_read_string_pair(
                                      property, MQTT_PROP_USER_PROPERTY, &name, &value, true)) {
            MqttUserProperty pair{name != nullptr ? name : "", value != nullptr ? value : ""};
            std::free(name);
            std::free(value);
            name = value = nullptr;
            received.properties.push_back(std::move(pair));
        }
        Tell(client->m_callbacks.message, received);
    } catch (...) {
        // Out of memory for a copy: the message is let go.
    }
}

void CMqttClient::OnUnsubscribe(mosquitto*, void* self, int messageId) {
    auto* client = static_cast<CMqttClient*>(self);
    client->m_lastSynced = messageId;
    Tell(client->m_callbacks.synced, messageId);
}

void CMqttClient::OnLog(mosquitto* mosq, void* self, int level, const char* text) {
    if (level != MOSQ_LOG_ERR || text == nullptr) {
        return;
    }
    auto* client = static_cast<CMqttClient*>(self);
    const MosquittoLibrary& library = *client->m_library;
    try {
        std::string clause = TlsErrorClause(text);
        // OpenSSL says only that the check failed; the handshake's own result says what was wrong.
        void* ssl = library.ssl_get(mosq);
        if (ssl != nullptr && library.ssl_get_verify_result != nullptr &&
            clause.find("certificate verify failed") != std::string::npos) {
            const long result = library.ssl_get_verify_result(ssl);
            if (result != kCertificateOk) {
                clause.append(" (");
                clause.append(library.x509_verify_cert_error_string(result));
                clause.push_back(')');
            }
        }
        const std::lock_guard<std::mutex> lock(client->m_tlsErrorLock);
        if (client->m_tlsErrors.size() < kMaxTlsErrors) {
            client->m_tlsErrors.push_back(OneLine(clause));
        }
    } catch (...) {
        // Out of memory for the line: the failure is still said, with the library's words.
    }
}
