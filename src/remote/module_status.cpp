#include "remote/module_status.h"

#include <cstdint>
#include <utility>

#include "platform/one_line.h"

namespace {

// Deeper nesting is not something a publisher writes; refusing it keeps the recursion bounded
// whatever a hostile payload holds.
constexpr int kMaxDepth = 16;
// A field longer than this is cut in the user's line (a log box line, not a dump).
constexpr std::size_t kMaxFieldInLine = 200;

void AppendUtf8(uint32_t code, std::string& out) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// A strict enough JSON reader for one object: it tells a well-formed object from anything else
// and keeps the three string members it is asked for.
class JsonCursor {
  public:
    explicit JsonCursor(std::string_view text) : m_text(text) {}

    bool ReadStatusObject(ModuleStatus& status, bool& hasState) {
        SkipSpace();
        if (!ReadObject(&status, &hasState, 0)) {
            return false;
        }
        SkipSpace();
        return m_at == m_text.size();
    }

  private:
    void SkipSpace() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t' ||
                                        m_text[m_at] == '\n' || m_text[m_at] == '\r')) {
            ++m_at;
        }
    }
    bool Take(char c) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool Peek(char c) {
        SkipSpace();
        return m_at < m_text.size() && m_text[m_at] == c;
    }

    bool ReadHex4(uint32_t& code) {
        if (m_text.size() - m_at < 4) {
            return false;
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<uint32_t>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    // A string; its text into `out` unless null.
    bool ReadString(std::string* out) {
        if (!Take('"')) {
            return false;
        }
        std::string text;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"') {
                if (out != nullptr) {
                    *out = std::move(text);
                }
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                text.push_back(c);
                continue;
            }
            if (m_at == m_text.size()) {
                return false;
            }
            const char escape = m_text[m_at++];
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    text.push_back(escape);
                    break;
                case 'b':
                    text.push_back('\b');
                    break;
                case 'f':
                    text.push_back('\f');
                    break;
                case 'n':
                    text.push_back('\n');
                    break;
                case 'r':
                    text.push_back('\r');
                    break;
                case 't':
                    text.push_back('\t');
                    break;
                case 'u': {
                    uint32_t code = 0;
                    if (!ReadHex4(code)) {
                        return false;
                    }
                    if (code >= 0xD800 && code < 0xDC00 && m_text.substr(m_at, 2) == "\\u") {
                        const std::size_t pairAt = m_at;
                        m_at += 2;
                        uint32_t low = 0;
                        if (ReadHex4(low) && low >= 0xDC00 && low < 0xE000) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                        } else {
                            m_at = pairAt;
                        }
                    }
                    // A surrogate left alone stands for no character.
                    AppendUtf8(code >= 0xD800 && code < 0xE000 ? 0xFFFD : code, text);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    bool ReadNumberOrLiteral() {
        SkipSpace();
        for (const std::string_view literal : {"true", "false", "null"}) {
            if (m_text.substr(m_at, literal.size()) == literal) {
                m_at += literal.size();
                return true;
            }
        }
        const std::size_t start = m_at;
        if (m_at < m_text.size() && m_text[m_at] == '-') {
            ++m_at;
        }
        const std::size_t digits = m_at;
        while (m_at < m_text.size() &&
               std::string_view("0123456789.eE+-").find(m_text[m_at]) != std::string_view::npos) {
            ++m_at;
        }
        return m_at > digits && m_text[digits] >= '0' && m_text[digits] <= '9' && m_at > start;
    }

    bool ReadValue(int depth) {
        if (Peek('{')) {
            return ReadObject(nullptr, nullptr, depth + 1);
        }
        if (Peek('[')) {
            return ReadArray(depth + 1);
        }
        if (Peek('"')) {
            return ReadString(nullptr);
        }
        return ReadNumberOrLiteral();
    }

    bool ReadArray(int depth) {
        if (depth > kMaxDepth || !Take('[')) {
            return false;
        }
        if (Take(']')) {
            return true;
        }
        do {
            if (!ReadValue(depth)) {
                return false;
            }
        } while (Take(','));
        return Take(']');
    }

    // An object; its status members into `status` when not null (the outermost object only).
    bool ReadObject(ModuleStatus* status, bool* hasState, int depth) {
        if (depth > kMaxDepth || !Take('{')) {
            return false;
        }
        if (Take('}')) {
            return true;
        }
        do {
            std::string key;
            if (!ReadString(&key) || !Take(':')) {
                return false;
            }
            std::string* field = nullptr;
            if (status != nullptr && Peek('"')) {
                field = key == "state"          ? &status->state
                        : key == "port"         ? &status->port
                        : key == "module"       ? &status->module
                        : key == "run"          ? &status->run
                        : key == "reason"       ? &status->reason
                        : key == "module_state" ? &status->moduleState
                                                : nullptr;
            }
            if (field != nullptr) {
                if (!ReadString(field)) {
                    return false;
                }
                if (field == &status->state) {
                    *hasState = true;
                }
            } else if (!ReadValue(depth)) {
                return false;
            }
        } while (Take(','));
        return Take('}');
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

void AppendJsonString(std::string_view text, std::string& out) {
    static const char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(c);
        } else if (byte < 0x20 || byte >= 0x7F) {
            out.append("\\u00");
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

// `text` as one line without the line end a module's reply carries, cut to a length a log line can
// show (never inside a UTF-8 sequence).
std::string ForLine(std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.remove_suffix(1);
    }
    std::string line = OneLine(text);
    if (line.size() > kMaxFieldInLine) {
        std::size_t cut = kMaxFieldInLine;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        line.resize(cut);
        line.append("...");
    }
    return line;
}

}  // namespace

std::string MakeModuleStatusJson(const ModuleStatus& status) {
    std::string json = "{\"state\":";
    AppendJsonString(status.state, json);
    const std::pair<const char*, const std::string*> members[] = {
        {"reason", &status.reason}, {"port", &status.port},
        {"module", &status.module}, {"module_state", &status.moduleState},
        {"run", &status.run},
    };
    for (const auto& [name, value] : members) {
        if (!value->empty()) {
            json.append(",\"");
            json.append(name);
            json.append("\":");
            AppendJsonString(*value, json);
        }
    }
    json.push_back('}');
    return json;
}

std::optional<ModuleStatus> ParseModuleStatus(std::string_view json) {
    ModuleStatus status;
    bool hasState = false;
    JsonCursor cursor(json);
    if (!cursor.ReadStatusObject(status, hasState) || !hasState) {
        return std::nullopt;
    }
    return status;
}

std::string OfflineReasonText(const ModuleStatus& status) {
    if (status.reason == kOfflineEnded) {
        return "its publisher ended";
    }
    if (status.reason == kOfflineModuleLost) {
        return "its publisher lost it";
    }
    if (status.reason == kOfflineConnectionLost) {
        return "the broker lost its publisher";
    }
    return {};
}

std::string ModuleStatusLine(const ModuleStatus& status) {
    if (status.state == kStatusOffline) {
        const std::string reason = OfflineReasonText(status);
        if (reason.empty()) {
            return "the module is offline";
        }
        return "the module is offline: " + reason +
               (status.reason == kOfflineConnectionLost ? ", which may come back" : "");
    }
    if (status.state != kStatusOnline) {
        std::string line = "the module's state is '";
        line.append(ForLine(status.state));
        line.push_back('\'');
        return line;
    }
    std::string line = "the module is online";
    if (!status.port.empty()) {
        line.append(" on ");
        line.append(ForLine(status.port));
    }
    if (!status.module.empty()) {
        line.append(" (");
        line.append(ForLine(status.module));
        line.push_back(')');
    }
    if (status.moduleState == kModuleStopped) {
        line.append(", stopped: no frames until it is started again");
    }
    return line;
}
