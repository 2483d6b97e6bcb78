#pragma once

#include <cstdint>

namespace platform {

// A window handle: the number under which a MessageTarget is registered with
// the Application. 0 addresses the loop itself (thread messages).
using HWND = std::uint32_t;

struct Message {
    std::uint32_t Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
};

// First number free for application messages, as on Windows.
constexpr std::uint32_t WM_APP = 0x8000;

// Receives posted messages on the loop thread.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void Dispatch(Message& message) = 0;
};

} // namespace platform
