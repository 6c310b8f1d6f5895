#include "tests/support/allocation_hook.h"

#include <cstdlib>
#include <new>

// The replacements pair malloc with free; GCC cannot see that the replaced
// operator delete receives only what the replaced operator new gave.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace allocation_hook {
bool (*allow)(std::size_t size) = nullptr;
}

namespace {

void* allocateNoThrow(std::size_t size) noexcept {
    if (allocation_hook::allow && !allocation_hook::allow(size)) return nullptr;
    return std::malloc(size ? size : 1);
}

void* allocate(std::size_t size) {
    if (void* p = allocateNoThrow(size)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocateNoThrow(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
