#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class TComponent;

// Told of every property change in a tree of components (the form model);
// front-ends render from it and --trace prints it.
using ModelObserver =
    std::function<void(TComponent& component, std::string_view property, const std::string& value)>;

// Named member of a form; an owner keeps its components in creation order and
// destroys them with itself.
class TComponent {
public:
    explicit TComponent(TComponent* owner, std::string name = {});
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    virtual const char* ClassName() const { return "TComponent"; }

    const std::string& Name() const { return name_; }
    int Tag() const { return tag_; }
    void SetTag(int tag);
    TComponent* Owner() const { return owner_; }

    // Owned components in creation order.
    const std::vector<TComponent*>& Components() const { return components_; }
    TComponent* FindComponent(std::string_view name) const;

    // Set on the root of a tree; reaches every change below it.
    void SetObserver(ModelObserver observer) { observer_ = std::move(observer); }

protected:
    void Changed(std::string_view property, const std::string& value);

private:
    TComponent* owner_;
    std::string name_;
    int tag_ = 0;
    std::vector<TComponent*> components_;
    std::vector<std::unique_ptr<TComponent>> owned_;
    ModelObserver observer_;

    void Adopt(TComponent* child);
};

// Creates a component owned by owner; the owner frees it.
template <typename T, typename... Args> T* Create(TComponent* owner, Args&&... args) {
    return new T(owner, std::forward<Args>(args)...);
}

} // namespace platform
