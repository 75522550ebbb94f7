// Integer handles for objects.
//
// Several C-style interfaces of this system hand out a plain `int` as the
// handle of an object and take it back later. An `int` cannot hold a pointer
// on a 64-bit machine, so the integer is an id that a registry maps to the
// object. Ids start at 1 (0 always means "no handle") and are not reused while
// their object is registered; a lookup of an unknown id, or of an id that
// belongs to an object of another type, gives an empty pointer, never a crash.
//
// Objects are held by shared_ptr: a caller that looked an object up keeps it
// alive until it lets go of its copy, even when another thread removes the id
// meanwhile. That makes "close while another thread is still inside a call"
// safe; the object is destroyed when the last user is done with it.
//
// One process-wide registry (processHandles()) gives ids that are unique
// across every kind of object; a library may also keep a registry of its own.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>

namespace platform {

class HandleRegistry {
  public:
    HandleRegistry() = default;
    HandleRegistry(const HandleRegistry &) = delete;
    HandleRegistry &operator=(const HandleRegistry &) = delete;

    // Registers obj and returns its new id; 0 for a null obj or when memory runs out.
    template <class T> int add(std::shared_ptr<T> obj) {
        if (!obj) return 0;
        return addErased(std::static_pointer_cast<void>(std::move(obj)), typeid(T));
    }

    // The object of that id when it was registered as a T; empty otherwise.
    template <class T> std::shared_ptr<T> get(int id) const {
        return std::static_pointer_cast<T>(getErased(id, typeid(T)));
    }

    // Unregisters the id and returns its object when it was registered as a T;
    // an id of another type stays registered and gives an empty pointer.
    template <class T> std::shared_ptr<T> take(int id) {
        return std::static_pointer_cast<T>(takeErased(id, typeid(T)));
    }

    // Number of registered objects.
    std::size_t size() const;

  private:
    struct Entry {
        std::shared_ptr<void> object;
        std::type_index type;
    };

    int addErased(std::shared_ptr<void> obj, const std::type_info &type);
    std::shared_ptr<void> getErased(int id, const std::type_info &type) const;
    std::shared_ptr<void> takeErased(int id, const std::type_info &type);

    mutable std::mutex lock_;
    std::unordered_map<int, Entry> entries_;
    int next_ = 1;
};

// The registry shared by the whole process. It is never destroyed, so handles
// stay usable from static initialisation until the process ends.
HandleRegistry &processHandles();

} // namespace platform
