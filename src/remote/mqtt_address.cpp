#include "remote/mqtt_address.h"

#include <cctype>

#include "platform/one_line.h"
#include "remote/mosquitto_library.h"

namespace {

constexpr std::string_view kScheme = "mqtt://";
constexpr std::string_view kTlsScheme = "mqtts://";
// A topic is at most 65535 bytes on the wire; the prefix leaves room for the longest leaf.
constexpr std::size_t kMaxPrefixBytes = 65535 - 16;

bool StartsWithInAnyCase(std::string_view text, std::string_view start) {
    if (text.size() < start.size()) {
        return false;
    }
    for (std::size_t i = 0; i < start.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != start[i]) {
            return false;
        }
    }
    return true;
}

Status AddressFault(std::string_view text, std::string_view what) {
    std::string message = "bad MQTT address '";
    message.append(OneLine(RedactedMqttAddress(text)));
    message.append("': ");
    message.append(what);
    return Status::Failure(std::move(message));
}

bool IsHostNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
}

bool IsIpv6Character(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
}

// "HOST[:PORT]" or "[IPV6][:PORT]", the part between the scheme and the topic prefix.
Result<MqttBroker> ParseAuthority(std::string_view text, std::string_view authority,
                                  int defaultPort) {
    if (authority.find('@') != std::string_view::npos) {
        return AddressFault(text,
                            "a user name does not belong in the address (use --user and "
                            "--password-file)");
    }
    MqttBroker broker;
    broker.port = defaultPort;
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return AddressFault(text, "an IPv6 address without its closing ']'");
        }
        const std::string_view host = authority.substr(1, close - 1);
        for (const char c : host) {
            if (!IsIpv6Character(c)) {
                return AddressFault(text, "the IPv6 address has a character it cannot hold");
            }
        }
        broker.host = std::string(host);
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') {
            return AddressFault(text, "only ':PORT' may follow the IPv6 address");
        }
        portText = rest.empty() ? rest : rest.substr(1);
        if (!rest.empty() && portText.empty()) {
            return AddressFault(text, "no port after ':'");
        }
    } else {
        const std::size_t colon = authority.find(':');
        const std::string_view host = authority.substr(0, colon);
        for (const char c : host) {
            if (!IsHostNameCharacter(c)) {
                return AddressFault(text, "the host name has a character it cannot hold");
            }
        }
        broker.host = std::string(host);
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty()) {
                return AddressFault(text, "no port after ':'");
            }
        }
    }
    if (broker.host.empty()) {
        return AddressFault(text, "no host");
    }
    if (!portText.empty()) {
        int port = 0;
        for (const char c : portText) {
            if (std::isdigit(static_cast<unsigned char>(c)) == 0 || port > 65535) {
                port = -1;
                break;
            }
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) {
            return AddressFault(text, "the port must be a number from 1 to 65535");
        }
        broker.port = port;
    }
    return broker;
}

// The text after the scheme, or a failure when the scheme is missing; `isTls` for mqtts://.
Result<std::string_view> AfterScheme(std::string_view text, bool& isTls) {
    isTls = StartsWithInAnyCase(text, kTlsScheme);
    if (!isTls && !StartsWithInAnyCase(text, kScheme)) {
        return AddressFault(text, "it does not start with mqtt:// or mqtts://");
    }
    return text.substr(isTls ? kTlsScheme.size() : kScheme.size());
}

// `broker` parsed from `authority`, with the scheme's TLS and its default port.
Result<MqttBroker> ParseBroker(std::string_view text, std::string_view authority, bool isTls) {
    Result<MqttBroker> broker =
        ParseAuthority(text, authority, isTls ? kMqttTlsDefaultPort : kMqttDefaultPort);
    if (broker) {
        (*broker).isTls = isTls;
    }
    return broker;
}

}  // namespace

std::string MqttModuleAddress::Topic(std::string_view leaf) const {
    std::string topic = prefix;
    topic.push_back('/');
    topic.append(leaf);
    return topic;
}

bool IsMqttAddress(std::string_view text) {
    return StartsWithInAnyCase(text, kScheme) || StartsWithInAnyCase(text, kTlsScheme);
}

std::string RedactedMqttAddress(std::string_view text) {
    // Up to the last '@' of all: a password typed without escapes may hold a '/' too.
    const std::size_t schemeEnd = text.find("://");
    const std::size_t at = text.rfind('@');
    if (schemeEnd == std::string_view::npos || at == std::string_view::npos || at < schemeEnd) {
        return std::string(text);
    }
    const std::size_t userStart = schemeEnd + 3;
    std::string redacted(text.substr(0, userStart));
    redacted.append("***");
    redacted.append(text.substr(at));
    return redacted;
}

Result<MqttBroker> ParseMqttBroker(std::string_view text) {
    bool isTls = false;
    const Result<std::string_view> rest = AfterScheme(text, isTls);
    if (!rest) {
        return rest.GetStatus();
    }
    std::string_view authority = *rest;
    if (!authority.empty() && authority.back() == '/') {
        authority.remove_suffix(1);
    }
    if (authority.find('/') != std::string_view::npos) {
        return AddressFault(text, "a broker address has no topic (mqtt://HOST[:PORT])");
    }
    return ParseBroker(text, authority, isTls);
}

Result<MqttModuleAddress> ParseMqttModuleAddress(std::string_view text) {
    bool isTls = false;
    const Result<std::string_view> rest = AfterScheme(text, isTls);
    if (!rest) {
        return rest.GetStatus();
    }
    const std::string_view after = *rest;
    const std::size_t slash = after.find('/');
    if (slash == std::string_view::npos || slash + 1 == after.size()) {
        return AddressFault(text, "no topic prefix (mqtt://HOST[:PORT]/PREFIX)");
    }
    Result<MqttBroker> broker = ParseBroker(text, after.substr(0, slash), isTls);
    if (!broker) {
        return broker.GetStatus();
    }
    std::string_view prefix = after.substr(slash + 1);
    // One trailing '/' is forgiven, as for a broker's address.
    if (prefix.size() > 1 && prefix.back() == '/') {
        prefix.remove_suffix(1);
    }
    if (const Status checked = CheckTopicPrefix(prefix); !checked) {
        return AddressFault(text, checked.Message());
    }
    MqttModuleAddress address;
    address.broker = std::move(broker).Value();
    address.prefix = std::string(prefix);
    return address;
}

Status CheckNoTls(const MqttBroker& broker) {
    if (!broker.isTls) {
        return Status();
    }
    return Status::Failure(
        "mqtts:// (TLS) is not supported here yet: a module on a broker is taken over mqtt:// "
        "only, and never without TLS when TLS was asked for");
}

Status CheckTopicPrefix(std::string_view prefix) {
    if (prefix.empty()) {
        return Status::Failure("the topic prefix is empty");
    }
    if (prefix.size() > kMaxPrefixBytes) {
        return Status::Failure("the topic prefix is too long");
    }
    if (prefix.front() == '/' || prefix.back() == '/') {
        return Status::Failure("the topic prefix must not start or end with '/'");
    }
    if (prefix.find("//") != std::string_view::npos) {
        return Status::Failure("the topic prefix has an empty level ('//')");
    }
    if (prefix.find_first_of("+#") != std::string_view::npos) {
        return Status::Failure("the topic prefix must not hold the wildcards '+' or '#'");
    }
    // Topics starting with '$' belong to the broker; clients cannot publish there.
    if (prefix.front() == '$') {
        return Status::Failure("the topic prefix must not start with '$'");
    }
    for (const char c : prefix) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return Status::Failure("the topic prefix holds a control character");
        }
    }
    const Result<const MosquittoLibrary*> library = Mosquitto();
    if (!library) {
        return library.GetStatus();
    }
    if (library.Value()->validate_utf8(prefix.data(), static_cast<int>(prefix.size())) !=
        MOSQ_ERR_SUCCESS) {
        return Status::Failure("the topic prefix is not valid UTF-8");
    }
    return Status();
}
