#pragma once

namespace platform::headless {
// Characters of the bytes 0x80 to 0xFF; bytes below 0x80 are ASCII.
extern const char16_t cp1251High[128];
extern const char16_t cp1252High[128];
}
