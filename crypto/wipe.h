#pragma once
// Wiping key material once it has served: key blocks, key schedules, the
// blocks of a stream call, the texts a key was made from.
//
// A plain memset of memory that is about to die is a dead store, and the
// optimiser removes it; wipe() is made so that it cannot.
#include <cstddef>
#include <string>
#include <type_traits>

#include "crypto/ElAES.h"

namespace ElAES {

// Sets `size` bytes at `memory` to zero, whatever becomes of them afterwards.
void wipe(void* memory, std::size_t size) noexcept;

// The whole buffer of a string, up to its capacity (where earlier, longer
// contents may linger), then the string emptied; its buffer stays allocated.
template <typename Char, typename Traits, typename Allocator>
void wipe(std::basic_string<Char, Traits, Allocator>& text) noexcept {
    // Within the capacity: no reallocation, nothing thrown.
    text.resize(text.capacity());
    wipe(text.data(), text.size() * sizeof(Char));
    text.clear();
}

// The bytes of a plain object (a key, a schedule, a block).
template <typename T>
void wipeObject(T& object) noexcept {
    static_assert(std::is_trivially_copyable_v<T>, "only the bytes of a plain object can be wiped");
    wipe(&object, sizeof object);
}
template <typename Char, typename Traits, typename Allocator>
void wipeObject(std::basic_string<Char, Traits, Allocator>& text) noexcept {
    wipe(text);
}

// Wipes a plain object or a string when the scope ends, by return or by an
// exception alike.
template <typename T>
class WipeOnExit {
public:
    explicit WipeOnExit(T& object) noexcept : object_(object) {}
    ~WipeOnExit() { wipeObject(object_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

private:
    T& object_;
};

// A key block that wipes itself when destroyed. It is a Key, byte for byte:
// it goes wherever a Key is read, and a Key converts to it. A copy wipes its
// own bytes in turn.
struct SecretKey : Key {
    SecretKey() noexcept : Key{} {}
    SecretKey(const Key& key) noexcept : Key(key) {}
    SecretKey(const SecretKey&) = default;
    SecretKey& operator=(const SecretKey&) = default;
    ~SecretKey() { wipe(data(), size()); }
};
static_assert(sizeof(SecretKey) == sizeof(Key), "the same 32 bytes as Key");

}  // namespace ElAES
