#pragma once
// The retained payload of a module's PREFIX/status topic: a JSON object such as
// {"state":"online","port":"/dev/ttyUSB0","module":"<the module's M reply>",
// "module_state":"streaming","run":"<the publisher run's id>"} while a publisher serves the
// module, and {"state":"offline","reason":...} when it has ended or lost the module, or (the
// broker's last will) when the broker lost the publisher. The publisher writes it with
// MakeModuleStatusJson; subscribers read it with ParseModuleStatus, which must hold against
// anything anyone on the broker publishes there. Pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>

inline constexpr char kStatusOnline[] = "online";
inline constexpr char kStatusOffline[] = "offline";
// Why a publisher is offline. Only the will may pass: the publisher may be back once it reaches
// the broker again (a broker restart sends the wills of everyone connected).
inline constexpr char kOfflineEnded[] = "ended";                     // it ended as asked
inline constexpr char kOfflineModuleLost[] = "module-lost";          // it lost the module
inline constexpr char kOfflineConnectionLost[] = "connection-lost";  // its last will
// What the module does while its publisher is online: a stop command ends its stream.
inline constexpr char kModuleStreaming[] = "streaming";
inline constexpr char kModuleStopped[] = "stopped";

struct ModuleStatus {
    std::string state;          // kStatusOnline, kStatusOffline, or whatever a newer publisher says
    std::string port;           // the module's serial port; may be empty
    std::string module;         // the module's M reply; empty until known
    std::string run{};          // the publisher run's id; empty from publishers that give none
    std::string reason{};       // offline: why (kOffline...); empty when not given
    std::string moduleState{};  // online: kModuleStreaming or kModuleStopped; empty when not given
};

// The JSON object of `status` (empty port and module left out). Plain ASCII: control characters
// and bytes above 0x7F are written as \u escapes (the latter read as Latin-1).
std::string MakeModuleStatusJson(const ModuleStatus& status);

// The "state", "port", "module", "run", "reason" and "module_state" string members of a JSON
// object; other members are skipped.
// Nothing when the text is not one JSON object (nested deeper than a few levels counts as not)
// or has no "state" string.
std::optional<ModuleStatus> ParseModuleStatus(std::string_view json);

// Why an offline status says its module is offline, as a clause ("its publisher ended", "the
// broker lost its publisher"); empty when it gives no reason we know.
std::string OfflineReasonText(const ModuleStatus& status);

// One line for the user: "the module is online on PORT (MODULE)" (", stopped: ..." when it is),
// "the module is offline" (": the broker lost its publisher, ..." and the like when the status
// says why), or "the module's state is 'STATE'"; control characters escaped, long texts cut.
std::string ModuleStatusLine(const ModuleStatus& status);
