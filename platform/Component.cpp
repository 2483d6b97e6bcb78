#include "platform/Component.h"

namespace platform {

TComponent::TComponent(TComponent* owner, std::string name)
    : owner_(owner), name_(std::move(name)) {
    if (owner_ != nullptr) {
        owner_->Adopt(this);
    }
}

TComponent::~TComponent() {
    // Children go in reverse creation order, as their owner would free them.
    while (!owned_.empty()) {
        owned_.pop_back();
    }
}

void TComponent::Adopt(TComponent* child) {
    components_.push_back(child);
    owned_.emplace_back(child);
}

void TComponent::SetTag(int tag) {
    if (tag_ != tag) {
        tag_ = tag;
        Changed("Tag", std::to_string(tag));
    }
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    for (TComponent* child : components_) {
        if (child->Name() == name) {
            return child;
        }
    }
    return nullptr;
}

void TComponent::Changed(std::string_view property, const std::string& value) {
    TComponent* root = this;
    while (root->owner_ != nullptr) {
        root = root->owner_;
    }
    if (root->observer_) {
        root->observer_(*this, property, value);
    }
}

} // namespace platform
