#pragma once
// CReplyList: the reply collectors of the commands sent. Placeholder until the device link lands.
#include <cstdint>
#include <string>

class CCommandReply;

class CReplyList {
public:
    // (context, reply, reply text, bytes, byte count); the bytes are valid during the call only.
    using ReplyCallback = void (*)(void* context, CCommandReply* reply, const std::string& text,
                                   const uint8_t* bytes, int count);

    explicit CReplyList(void* context) : m_context(context) {}
    void SetCallback(ReplyCallback callback) { m_callback = callback; }
    void Feed(int, const uint8_t*) {}
    void Stop() { m_stopped = true; }

private:
    ReplyCallback m_callback = nullptr;
    void* m_context;
    bool m_stopped = false;
};
