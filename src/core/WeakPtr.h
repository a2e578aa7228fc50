#pragma once
// Weak references to an object that may be owned in any way (a plain member,
// a unique_ptr, a shared_ptr). Callbacks that may outlive their owner hold a
// std::weak_ptr from its factory and lock it before use; once the owner is
// gone the lock gives nothing.
//
// Declare the factory as the owner's last member, so that it ends first: no
// callback can reach a half-destroyed owner. Main thread only, like the
// owners themselves.

#include <memory>

namespace orvane {

template <typename T>
class WeakPtrFactory {
public:
    explicit WeakPtrFactory(T* owner) : anchor_(owner, [](T*) {}) {}
    WeakPtrFactory(const WeakPtrFactory&) = delete;
    WeakPtrFactory& operator=(const WeakPtrFactory&) = delete;

    // A reference that ends with the factory (or at invalidate()).
    std::weak_ptr<T> weak() const { return anchor_; }

    // Ends every reference handed out so far; later ones are fresh.
    void invalidate() {
        anchor_ = std::shared_ptr<T>(anchor_.get(), [](T*) {});
    }

private:
    // Owns nothing: the no-op deleter only gives weak references a lifetime.
    std::shared_ptr<T> anchor_;
};

}  // namespace orvane
