#pragma once
// Marks the functions that the plug-in library exports by name.
#if defined(_WIN32)
#define MISTLOCK_EXPORT __declspec(dllexport)
#else
#define MISTLOCK_EXPORT __attribute__((visibility("default")))
#endif
