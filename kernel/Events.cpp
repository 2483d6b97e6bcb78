#include "kernel/Events.h"

#include <algorithm>
#include <array>

namespace kernel {

TEvents::TEvents() : storage_(InitialRecords * sizeof(TEventRec)) {
    ring_ = RingCreate(0, static_cast<std::uint32_t>(storage_.size()), storage_.data());
}

bool TEvents::AddHandler(TEventHandler handler, void* context) {
    bool known = std::any_of(handlers_.begin(), handlers_.end(), [&](const Node& node) {
        return node.handler == handler && node.context == context;
    });
    if (!known) {
        handlers_.push_back({handler, context});
    }
    return true;
}

bool TEvents::RemoveHandler(TEventHandler handler, void* context) {
    auto found = std::find_if(handlers_.begin(), handlers_.end(), [&](const Node& node) {
        return node.handler == handler && node.context == context;
    });
    if (found == handlers_.end()) {
        return false;
    }
    handlers_.erase(found);
    return true;
}

void TEvents::PostKey(std::int32_t id) {
    Put({evKey, 0, id, 0});
}

void TEvents::PostMsg(std::int32_t id, std::intptr_t data) {
    if (id != 0) {
        Put({evMessage, 0, id, data});
    }
}

void TEvents::PostTimer(std::int32_t slot, std::intptr_t arming) {
    if (slot != 0) {
        Put({evTimer, 0, slot, arming});
    }
}

void TEvents::Put(const TEventRec& event) {
    // Overwriting an unread record would lose an event; grow instead.
    if (pending_ == Capacity()) {
        Grow();
    }
    RingPut(ring_, &event, sizeof(TEventRec));
    ++pending_;
}

void TEvents::Grow() {
    std::vector<std::uint8_t> bigger(storage_.size() * 2);
    const std::size_t count = pending_;
    for (std::size_t i = 0; i < count; ++i) {
        RingGet(ring_, bigger.data() + i * sizeof(TEventRec), sizeof(TEventRec));
    }
    storage_.swap(bigger);
    ring_ = RingCreate(0, static_cast<std::uint32_t>(storage_.size()), storage_.data());
    ring_.WritePos = static_cast<std::uint32_t>(count * sizeof(TEventRec));
}

TEventRec TEvents::GetEvent() {
    TEventRec event;
    if (pending_ == 0 || RingGet(ring_, &event, sizeof(TEventRec)) == 0) {
        return {};
    }
    --pending_;
    return event;
}

TEventRec TEvents::DispatchEvent(TEventRec event) {
    // Take the chain as it stands before the first handler runs: handlers may
    // add or remove handlers, themselves included, while they run. Chains are
    // a few handlers long, so the snapshot stays on the stack.
    constexpr std::size_t InlineNodes = 16;
    std::array<Node, InlineNodes> inlineNodes;
    std::vector<Node> manyNodes;
    const Node* nodes = inlineNodes.data();
    const std::size_t count = handlers_.size();
    if (count <= InlineNodes) {
        std::copy(handlers_.begin(), handlers_.end(), inlineNodes.begin());
    } else {
        manyNodes = handlers_;
        nodes = manyNodes.data();
    }
    for (std::size_t i = count; i > 0; --i) {
        event = nodes[i - 1].handler(nodes[i - 1].context, *this, event);
    }
    return event;
}

} // namespace kernel
