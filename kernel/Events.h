#pragma once

#include "kernel/Bufferunit.h"

#include <cstdint>
#include <vector>

namespace kernel {

enum : std::int32_t {
    evNothing = 0,
    evKey = 16,
    evMessage = 256,
    evTimer = 512,
};

// Data carries a pointer the poster keeps alive until dispatch, or an integer
// (the port number of message 10000, the timer's arming of a tick), so it is
// pointer-sized here.
struct TEventRec {
    std::int32_t Kind = 0;
    std::int32_t Param = 0;
    std::int32_t Id = 0;
    std::intptr_t Data = 0;
};

class TEvents;

// Returns the record unchanged to pass it on, or ClearEvent() to consume it.
using TEventHandler = TEventRec (*)(void* context, TEvents& events, TEventRec event);

// The event queue and its handler chain. Handlers run from the most recently
// added to the first added.
class TEvents {
public:
    TEvents();
    TEvents(const TEvents&) = delete;
    TEvents& operator=(const TEvents&) = delete;

    bool AddHandler(TEventHandler handler, void* context);
    bool RemoveHandler(TEventHandler handler, void* context);
    std::size_t HandlerCount() const { return handlers_.size(); }

    void PostKey(std::int32_t id);
    void PostMsg(std::int32_t id, std::intptr_t data);
    // The arming of the slot's timer that fell due travels in Data.
    void PostTimer(std::int32_t slot, std::intptr_t arming);
    TEventRec GetEvent();
    TEventRec DispatchEvent(TEventRec event);
    static TEventRec ClearEvent() { return {}; }

    std::size_t Pending() const { return pending_; }
    // Records the queue holds before it has to grow.
    std::size_t Capacity() const { return storage_.size() / sizeof(TEventRec); }
    const TRingBuffer& Ring() const { return ring_; }

    static constexpr std::size_t InitialRecords = 50;

private:
    struct Node {
        TEventHandler handler;
        void* context;
    };

    void Put(const TEventRec& event);
    void Grow();

    std::vector<Node> handlers_; // head first
    std::vector<std::uint8_t> storage_;
    TRingBuffer ring_;
    std::size_t pending_ = 0;
};

} // namespace kernel
