#pragma once
// Where a module is on an MQTT broker: "mqtt://HOST[:PORT]" names a broker and
// "mqtt://HOST[:PORT]/PREFIX" a module's topics on it (PREFIX/frame, PREFIX/status, PREFIX/reply,
// PREFIX/command); "mqtts://" is the same over TLS. Schemes are read in any case, as URLs are.
// Wherever a serial port is asked for, such an address may stand instead. Pure functions, any
// thread.
#include <string>
#include <string_view>

#include "platform/result.h"

inline constexpr int kMqttDefaultPort = 1883;
inline constexpr int kMqttTlsDefaultPort = 8883;

struct MqttBroker {
    std::string host;
    int port = kMqttDefaultPort;
    bool isTls = false;  // mqtts://
};

struct MqttModuleAddress {
    MqttBroker broker;
    std::string prefix;  // without a leading or trailing '/'

    // PREFIX/leaf, e.g. Topic("frame").
    std::string Topic(std::string_view leaf) const;
};

// True when `text` starts with "mqtt://" or "mqtts://" in any case: the caller means a broker,
// not a device.
bool IsMqttAddress(std::string_view text);
// `text` for a message: whatever stands between the scheme and the last '@' (a user name and
// password, which the parsers refuse) is shown as "***", so that no message repeats a password.
std::string RedactedMqttAddress(std::string_view text);

// "mqtt://HOST[:PORT]" with an optional trailing '/'. The failure says what is wrong in one line.
Result<MqttBroker> ParseMqttBroker(std::string_view text);
// "mqtt://HOST[:PORT]/PREFIX"; PREFIX is one or more topic levels without wildcards ('+', '#').
Result<MqttModuleAddress> ParseMqttModuleAddress(std::string_view text);
// Success for a broker reached without TLS; for mqtts:// the one line a program that cannot take
// TLS yet says instead of connecting without it.
Status CheckNoTls(const MqttBroker& broker);
// A topic prefix as --topic gives it: not empty, no wildcards, no leading or trailing '/'.
Status CheckTopicPrefix(std::string_view prefix);
