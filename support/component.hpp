#pragma once
// Components form an ownership tree: destroying an owner destroys what it owns.

#include <memory>
#include <utility>
#include <vector>

namespace vexmira::support {

class Component {
public:
    explicit Component(Component* owner = nullptr) : owner_(owner) {}
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;
    virtual ~Component() {
        // Last created, first destroyed, so later components may rely on earlier ones.
        while (!owned_.empty()) owned_.pop_back();
    }

    Component* Owner() const noexcept { return owner_; }
    std::size_t ComponentCount() const noexcept { return owned_.size(); }

    // Creates a component owned by this one; T's constructor takes the owner first.
    template <class T, class... Args>
    T& CreateOwned(Args&&... args) {
        auto child = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& ref = *child;
        owned_.push_back(std::move(child));
        return ref;
    }

private:
    Component* owner_;
    std::vector<std::unique_ptr<Component>> owned_;
};

}  // namespace vexmira::support
