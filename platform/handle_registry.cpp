#include "platform/handle_registry.h"

#include <climits>
#include <new>

namespace platform {

std::size_t HandleRegistry::size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

int HandleRegistry::addErased(std::shared_ptr<void> obj, const std::type_info &type) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (entries_.size() < static_cast<std::size_t>(INT_MAX)) {
            // Ids count up and wrap to 1; an id still in use is skipped, so a
            // stale id names nothing for as long as possible instead of naming
            // a newer object.
            int id = next_;
            while (entries_.count(id) != 0)
                id = id == INT_MAX ? 1 : id + 1;
            try {
                entries_.emplace(id, Entry{obj, std::type_index(type)});
                next_ = id == INT_MAX ? 1 : id + 1;
                return id;
            } catch (const std::bad_alloc &) {
            }
        }
    }
    // Not registered: obj may be the last owner, and its deleter must not run
    // under the registry's lock.
    return 0;
}

std::shared_ptr<void> HandleRegistry::getErased(int id, const std::type_info &type) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(id);
    if (it == entries_.end() || it->second.type != std::type_index(type)) return nullptr;
    return it->second.object;
}

std::shared_ptr<void> HandleRegistry::takeErased(int id, const std::type_info &type) {
    std::shared_ptr<void> obj;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = entries_.find(id);
        if (it == entries_.end() || it->second.type != std::type_index(type)) return nullptr;
        obj = std::move(it->second.object);
        entries_.erase(it);
    }
    // The caller's copy may be the last one: the object is destroyed outside the lock.
    return obj;
}

HandleRegistry &processHandles() {
    // Static storage, never destroyed: making it cannot fail, and it outlives
    // every other static object.
    alignas(HandleRegistry) static unsigned char storage[sizeof(HandleRegistry)];
    static HandleRegistry *registry = new (storage) HandleRegistry;
    return *registry;
}

} // namespace platform
