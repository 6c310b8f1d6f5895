#pragma once
// The toolbar button procedure's address as the host can call it.
//
// The add-button command carries the address in 32 bits, which the host reads
// as a signed number and sign-extends to a pointer. The library asks to be
// loaded low for that reason, but a loader that finds its preferred range
// taken puts it anywhere, above 4 GB too, and the host would then call a
// truncated address on the first click.
#include <cstdint>
#include <string>

namespace host {

using ButtonProcedure = void (*)(std::int32_t);

// True when the low 32 bits of the address, sign-extended, give it back whole.
bool survivesThe32BitTrip(std::uintptr_t address);

// An address through which the host reaches `procedure`: the procedure itself
// when its address survives the trip; otherwise a jump to it placed below
// 2 GB, made once per procedure, kept for the process's life and given out
// again on every later call; null when no such jump can be had.
const void* hostCallableAddress(ButtonProcedure procedure);

// hostCallableAddress(&toolbarButtonProc), or what the test seam below asks for.
const void* buttonProcedureAddress();

// What the user is told when there is no button to add.
std::u16string noButtonMessage(bool encryptionOn);

namespace seams {

enum class ButtonAddress {
    AsLoaded,     // what hostCallableAddress gives: the plug-in's own behaviour
    ThroughJump,  // the jump in low memory even where the address would do
    Unavailable,  // none at all, as when no low memory can be had
};
void setButtonAddress(ButtonAddress mode);

}  // namespace seams

}  // namespace host
