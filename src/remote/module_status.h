#pragma once
// The retained payload of a module's PREFIX/status topic: a JSON object such as
// {"state":"online","port":"/dev/ttyUSB0","module":"<the module's M reply>"} while a publisher
// serves the module, and {"state":"offline"} when it has ended or lost the module (the broker
// sends that as the publisher's last will too). The publisher writes it with
// MakeModuleStatusJson; subscribers read it with ParseModuleStatus, which must hold against
// anything anyone on the broker publishes there. Pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>

struct ModuleStatus {
    std::string state;   // "online", "offline", or whatever a newer publisher says
    std::string port;    // the module's serial port; may be empty
    std::string module;  // the module's M reply; empty until known
};

// The JSON object of `status` (empty port and module left out). Plain ASCII: control characters
// and bytes above 0x7F are written as \u escapes (the latter read as Latin-1).
std::string MakeModuleStatusJson(const ModuleStatus& status);

// The "state", "port" and "module" string members of a JSON object; other members are skipped.
// Nothing when the text is not one JSON object (nested deeper than a few levels counts as not)
// or has no "state" string.
std::optional<ModuleStatus> ParseModuleStatus(std::string_view json);

// One line for the user: "the module is online on PORT (MODULE)", "the module is offline", or
// "the module's state is 'STATE'"; control characters escaped, long texts cut.
std::string ModuleStatusLine(const ModuleStatus& status);
