#pragma once
// The toolbar button procedure's address as the host can call it.
//
// The add-button command carries the address in 32 bits, which the host reads
// as a signed number and sign-extends to a pointer. The library asks to be
// loaded low for that reason, but a loader that finds its preferred range
// taken puts it anywhere, above 4 GB too, and the host would then call a
// truncated address on the first click.
#include <string>

namespace host {

// The address of toolbarButtonProc that the host reaches through 32 bits
// (platform::reachableIn32Bits): the procedure itself or a jump to it; null
// when neither can be had, and then there must be no button.
const void* buttonProcedureAddress();

// What the user is told when there is no button to add.
std::u16string noButtonMessage(bool encryptionOn);

}  // namespace host
