#pragma once
#include "resources/form_layout.h"

namespace layout {
// The settings dialog: client area 375 x 232, "MS Sans Serif" 8 pt.
extern const Form setpassLayout;
}
