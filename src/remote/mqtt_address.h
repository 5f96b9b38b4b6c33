#pragma once
// Where a module is on an MQTT broker: "mqtt://HOST[:PORT]" names a broker and
// "mqtt://HOST[:PORT]/PREFIX" a module's topics on it (PREFIX/frame, PREFIX/status, PREFIX/reply,
// PREFIX/command). Wherever a serial port is asked for, such an address may stand instead. Pure
// functions, any thread.
#include <string>
#include <string_view>

#include "platform/result.h"

inline constexpr int kMqttDefaultPort = 1883;

struct MqttBroker {
    std::string host;
    int port = kMqttDefaultPort;
};

struct MqttModuleAddress {
    MqttBroker broker;
    std::string prefix;  // without a leading or trailing '/'

    // PREFIX/leaf, e.g. Topic("frame").
    std::string Topic(std::string_view leaf) const;
};

// True when `text` starts with "mqtt://": the caller means a broker, not a device.
bool IsMqttAddress(std::string_view text);

// "mqtt://HOST[:PORT]" with an optional trailing '/'. The failure says what is wrong in one line.
Result<MqttBroker> ParseMqttBroker(std::string_view text);
// "mqtt://HOST[:PORT]/PREFIX"; PREFIX is one or more topic levels without wildcards ('+', '#').
Result<MqttModuleAddress> ParseMqttModuleAddress(std::string_view text);
// A topic prefix as --topic gives it: not empty, no wildcards, no leading or trailing '/'.
Status CheckTopicPrefix(std::string_view prefix);
