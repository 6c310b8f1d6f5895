// Linking allocation_hook.cpp replaces the program's global operator new and
// delete, so that a test can count the allocations of the code under test or
// make one of them fail.
#pragma once

#include <cstddef>

namespace allocation_hook {

// Asked before every allocation; false makes that allocation fail
// (std::bad_alloc, or null from the nothrow forms). Null lets all succeed.
extern bool (*allow)(std::size_t size);

}  // namespace allocation_hook
