// TOpenDialog: the system's file chooser, owned by the form. The chooser has
// no window of its own until it runs.
#include <windows.h>

#include <commdlg.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/forms_internal.h"
#include "platform/win32/win32_support.h"

namespace forms {

using win32::has;

bool TOpenDialog::execute() {
    // "Name|pattern|Name|pattern" becomes the chooser's list of pairs.
    std::wstring filter;
    for (const char16_t* p = entry_->text ? entry_->text : u""; *p; ++p) filter += *p == u'|' ? L'\0' : wchar_t(*p);
    filter += L'\0';
    filter += L'\0';

    std::vector<wchar_t> file(32768, L'\0');
    if (state_->fileName.size() < file.size()) {
        std::copy(state_->fileName.begin(), state_->fileName.end(), file.begin());
    }

    OPENFILENAMEW chooser{};
    chooser.lStructSize = sizeof chooser;
    chooser.hwndOwner = reinterpret_cast<HWND>(form_.handle());
    chooser.lpstrFilter = filter.c_str();
    chooser.nFilterIndex = 1;
    chooser.lpstrFile = file.data();
    chooser.nMaxFile = static_cast<DWORD>(file.size());
    // The host's current folder is not the chooser's to change.
    chooser.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (has(*entry_, layout::FileMustExist)) chooser.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
    if (has(*entry_, layout::Resizable)) chooser.Flags |= OFN_ENABLESIZING;

    // The chooser is modal: the host may destroy the form while it is open.
    const auto life = form_.lifetime();
    const BOOL chosen = GetOpenFileNameW(&chooser);
    if (life.expired()) return false;
    if (chosen) {
        state_->fileName = platform::win32::fromWide(file.data(), wcsnlen(file.data(), file.size()));
        return true;
    }
    if (const DWORD error = CommDlgExtendedError()) {
        char text[96];
        std::snprintf(text, sizeof text, "The file chooser failed (error 0x%04lX).", static_cast<unsigned long>(error));
        throw Exception(text);
    }
    return false;
}

std::u16string TOpenDialog::fileName() const { return state_->fileName; }

}  // namespace forms
