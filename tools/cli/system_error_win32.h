#pragma once
// The calling thread's last Win32 error as the system words it, in UTF-8 and
// without the trailing full stop, for mistlock's messages.
#include <string>

namespace cli {

std::string lastErrorText();

}  // namespace cli
