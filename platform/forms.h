#pragma once
// The small form toolkit that the settings dialog is written over. On Windows
// every control is a real window (platform/win32/); in the headless build the
// controls are plain values (platform/portable/). Code above this header is the
// same on both.
//
// A form is created hidden from a layout (resources/); each control finds its
// entry in the layout by name. Handlers that raise are reported in the
// toolkit's standard error box (platform::errorBox) and never escape.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "resources/form_layout.h"

namespace forms {

class TForm;

class TControl {
public:
    TControl(TForm& form, const char* name);
    virtual ~TControl();
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const layout::Control& layoutEntry() const { return *entry_; }
    // The platform's handle of the control's window (HWND); 0 when headless.
    std::uintptr_t handle() const;

    struct State;  // per platform
protected:
    TForm& form_;
    const layout::Control* entry_;
    std::unique_ptr<State> state_;
};

class TLabel : public TControl {
public:
    using TControl::TControl;
    std::u16string caption() const;
    void setCaption(const std::u16string& caption);
};

class TEdit : public TControl {
public:
    using TControl::TControl;
    std::u16string text() const;
    void setText(const std::u16string& text);
};

class TMemo : public TControl {
public:
    using TControl::TControl;
    // The whole text, lines separated by CR LF.
    std::u16string text() const;
    void setText(const std::u16string& text);
    // The text split at CR LF, lone CR and lone LF; a break at the very end
    // does not start another line, and the empty text has no lines.
    std::vector<std::u16string> lines() const;
};

class TRadioButton : public TControl {
public:
    using TControl::TControl;
    std::u16string caption() const;
    void setCaption(const std::u16string& caption);
    bool checked() const;
    // Checking one button of a group unchecks the others.
    void setChecked(bool checked);
};

class TButton : public TControl {
public:
    using TControl::TControl;
    std::function<void()> onClick;
    // What a press of the button does, the handler run through the form's
    // error handling.
    void click();
};

class TSpeedButton : public TControl {
public:
    using TControl::TControl;
    std::u16string hint() const;
    void setHint(const std::u16string& hint);
    std::function<void()> onClick;
    void click();
};

class TOpenDialog : public TControl {
public:
    using TControl::TControl;
    // Runs the chooser modally; true when the user confirmed a file, whose
    // full path is then fileName().
    bool execute();
    std::u16string fileName() const;
};

class TForm {
public:
    explicit TForm(const layout::Form& layout);
    virtual ~TForm();
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    const layout::Form& layoutDescription() const { return layout_; }
    std::uintptr_t handle() const;

    std::u16string caption() const;
    void setCaption(const std::u16string& caption);

    // Outer position and size, frame included, in screen pixels.
    int left() const;
    int top() const;
    void setLeft(int left);
    void setTop(int top);
    int width() const;
    int height() const;

    bool visible() const;
    // Shows the form modelessly. A hidden form runs onShow() as it becomes
    // visible; a visible one is brought to the front.
    void show();
    // Closes as the close box does: runs onClose(), which may refuse by
    // raising (the error is shown and the form stays), then hides the form.
    void close();

    // Runs a handler the way the toolkit runs every handler: an error it
    // raises is shown in the standard error box and goes no further. The
    // handler of a form on the screen passes the form: the box is then
    // modal to it.
    static void runHandler(const std::function<void()>& handler, const TForm* form = nullptr);

    // Expires when the form is destroyed. The host may destroy it from inside
    // any box a handler shows: what the handler does afterwards asks first.
    std::weak_ptr<const void> lifetime() const { return life_; }

    struct State;  // per platform
protected:
    virtual void onShow() {}
    virtual void onClose() {}

private:
    friend class TControl;
    friend class TRadioButton;
    const layout::Form& layout_;
    std::unique_ptr<State> state_;
    std::shared_ptr<const bool> life_ = std::make_shared<const bool>(true);
};

}  // namespace forms
