#include "host/button_address.h"

#include "host/plugin.h"
#include "platform/platform.h"

namespace host {

const void* buttonProcedureAddress() { return platform::reachableIn32Bits(&toolbarButtonProc); }

std::u16string noButtonMessage(bool encryptionOn) {
    return std::u16string(u"The toolbar button cannot be added: the plug-in was loaded at an address the "
                          u"messenger cannot call.\r\nEncryption follows the saved switch, which is ") +
           (encryptionOn ? u"on." : u"off.");
}

}  // namespace host
