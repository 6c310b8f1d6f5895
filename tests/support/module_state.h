#pragma once
// What the plug-in's modules hold between calls, for the tests to look at and
// to set back. Defined in the modules themselves; nothing that ships asks for
// it, so no header of theirs declares it.
#include <cstdint>

#include "settings/translations.h"

namespace host {

// True between an initialise event and the finalise event: the plug-in runs.
bool initialised();
// The button id the host gave, 0 for none.
std::int32_t buttonId();

}  // namespace host

namespace setpassform {

// The key's name in the language file, e.g. "KeyNotFound".
const char16_t* textKeyName(Text key);
// Back to the built-in texts, as when the library is loaded.
void resetTranslations();

}  // namespace setpassform
