#pragma once
// The plug-in's entry points: pluginFun, which the host calls with every event
// record, and the toolbar button's procedure, whose address the host learns
// from the add-button command.
#include <cstdint>

#include "platform/export.h"

extern "C" {
// Returns a reply record in the reply buffer, valid until the next record is
// framed, or null for no reply.
MISTLOCK_EXPORT const void* pluginFun(const void* eventRecord);
}

namespace host {

inline constexpr const char* pluginTitle = "Mistlock 0.45";

// The codes of host::ButtonCode (host/protocol.h) switch encryption, show the
// settings dialog or the about box; any other code does nothing.
void toolbarButtonProc(std::int32_t code);

}  // namespace host
