// The form toolkit as real windows: a form over the settings dialog's layout,
// without the settings module, driven through its window handles the way a
// user and the host's message loop drive it.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/forms.h"
#include "platform/platform.h"
#include "resources/setpass_layout.h"
#include "tests/windows/support/windows_support.h"

namespace {

using wintest::MessageBoxes;
using wintest::pressKey;
using wintest::pumpMessages;
using wintest::pumpUntil;
using wintest::show;
using wintest::textOf;

// Every control of the layout, declared in the dialog's order.
class LayoutForm : public forms::TForm {
public:
    LayoutForm()
        : TForm(layout::setpassLayout),
          Label1(*this, "Label1"),
          Edit1(*this, "Edit1"),
          OD(*this, "OD"),
          Edit2(*this, "Edit2"),
          Label3(*this, "Label3"),
          Label2(*this, "Label2"),
          Label4(*this, "Label4"),
          Memo1(*this, "Memo1"),
          pass_check(*this, "pass_check"),
          file_check(*this, "file_check"),
          SaveBtn(*this, "SaveBtn"),
          OpenKeyFile(*this, "OpenKeyFile") {}

    forms::TLabel Label1;
    forms::TEdit Edit1;
    forms::TOpenDialog OD;
    forms::TEdit Edit2;
    forms::TLabel Label3;
    forms::TLabel Label2;
    forms::TLabel Label4;
    forms::TMemo Memo1;
    forms::TRadioButton pass_check;
    forms::TRadioButton file_check;
    forms::TButton SaveBtn;
    forms::TSpeedButton OpenKeyFile;

    HWND hwnd() const { return reinterpret_cast<HWND>(handle()); }

    int shows = 0;
    int closes = 0;
    std::function<void()> onCloseDoes;  // may raise to refuse the close

protected:
    void onShow() override { ++shows; }
    void onClose() override {
        ++closes;
        if (onCloseDoes) onCloseDoes();
    }
};

HWND hwndOf(const forms::TControl& control) { return reinterpret_cast<HWND>(control.handle()); }

RECT clientRectOf(HWND child) {
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

LONG styleOf(HWND hwnd) { return GetWindowLongW(hwnd, GWL_STYLE); }
LONG exStyleOf(HWND hwnd) { return GetWindowLongW(hwnd, GWL_EXSTYLE); }

// The colour on the screen at a point of a window's client area.
COLORREF pixelAt(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    const HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

// The form shown and in front, as after the toolbar's settings action.
void showAndSettle(LayoutForm& form) {
    form.show();
    pumpUntil([&] { return GetForegroundWindow() == form.hwnd() && GetFocus() != nullptr; }, 3000);
    pumpMessages(100);
}

// Whether a font has a glyph for every character of a text.
bool drawsAll(HFONT font, const std::u16string& text) {
    const HDC dc = CreateCompatibleDC(nullptr);
    const HGDIOBJ old = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    GetGlyphIndicesW(dc, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), glyphs.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteDC(dc);
    return std::find(glyphs.begin(), glyphs.end(), WORD(0xFFFF)) == glyphs.end();
}

HFONT fontOf(const forms::TControl& control) {
    return reinterpret_cast<HFONT>(SendMessageW(hwndOf(control), WM_GETFONT, 0, 0));
}

LOGFONTW descriptionOf(HFONT font) {
    LOGFONTW description{};
    GetObjectW(font, sizeof description, &description);
    return description;
}

// The bitmap "MS Sans Serif" of the system's code page, as Windows has it:
// the Western one without Cyrillic letters, the Cyrillic one without Greek.
// Under Wine, whose prefix has no fonts of its own, it is Wine's font file
// for the code page, loaded for this process only while the object lives.
class CodePageMsSansSerif {
public:
    CodePageMsSansSerif() {
        if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
            present_ = true;  // Windows' own
            return;
        }
#ifdef MISTLOCK_WINE_FONTS
        const char* file = GetACP() == 1251 ? "/sserifer.fon" : GetACP() == 1252 ? "/sserife.fon" : nullptr;
        if (file) {
            path_ = wintest::windowsPath(std::string(MISTLOCK_WINE_FONTS) + file);
            present_ = AddFontResourceExW(path_.c_str(), FR_PRIVATE, nullptr) > 0;
        }
#endif
    }
    ~CodePageMsSansSerif() {
        if (!path_.empty() && present_) RemoveFontResourceExW(path_.c_str(), FR_PRIVATE, nullptr);
    }
    CodePageMsSansSerif(const CodePageMsSansSerif&) = delete;
    CodePageMsSansSerif& operator=(const CodePageMsSansSerif&) = delete;
    bool present() const { return present_; }

private:
    std::wstring path_;
    bool present_ = false;
};

// The face is chosen from the texts each set of controls shows once they are
// set (a language file's), not from the layout's: the captions, the push
// buttons and the boxes each keep "MS Sans Serif" where it draws all their
// texts, and take another face of 8 points that does otherwise.
//
// First in this program: Wine keeps the face it found for a font request and
// gives it to every later request of the same font, so the bitmap font must be
// there before anything asks for "MS Sans Serif".
TEST(FormFonts, EachSetOfControlsKeepsMsSansSerifWhereItDrawsAllItsTexts) {
    const CodePageMsSansSerif bitmapFont;
    if (!bitmapFont.present()) GTEST_SKIP() << "no bitmap \"MS Sans Serif\" for code page " << GetACP();
    const bool cyrillicSystem = GetACP() == 1251;
    LayoutForm form;  // made after the font is there
    forms::TLabel* const labels[] = {&form.Label1, &form.Label3, &form.Label2, &form.Label4};
    forms::TRadioButton* const radios[] = {&form.pass_check, &form.file_check};
    struct Case {
        const char* name;
        std::u16string captions[6];  // the labels above, then the radio buttons
        bool keepsOn1251, keepsOn1252;
        bool shipped;  // a language we ship: its layout must fit
    } const cases[] = {
        {"English",
         {u"Password:", u"Key file:", u"Encrypt messages to these UINs:", u"Use:", u"The password", u"The key file"},
         true, true, true},
        {"Greek",
         {u"Κωδικός:", u"Αρχείο κλειδιού:", u"Κρυπτογράφηση προς αυτά τα UIN:", u"Χρήση:", u"Ο κωδικός",
          u"Το αρχείο κλειδιού"},
         false, false, false},
        {"built-in Russian",
         {u"Пароль:", u"Файл с ключом:", u"Шифровать при отправке на эти уины:", u"Использовать:", u"Введённый пароль",
          u"Файл с ключом"},
         true, false, true},
    };
    for (const Case& c : cases) {
        std::u16string all;
        for (int i = 0; i < 4; ++i) labels[i]->setCaption(c.captions[i]);
        for (int i = 0; i < 2; ++i) radios[i]->setCaption(c.captions[4 + i]);
        for (const std::u16string& caption : c.captions) all += caption;

        const HFONT captions = fontOf(form.Label1);
        const forms::TControl* const shown[] = {&form.Label3, &form.Label2, &form.Label4, &form.pass_check,
                                                &form.file_check};
        for (const forms::TControl* control : shown) {
            EXPECT_EQ(fontOf(*control), captions) << c.name << ": one face for " << control->layoutEntry().name;
        }
        const LOGFONTW face = descriptionOf(captions);
        EXPECT_EQ(std::wstring(face.lfFaceName) == L"MS Sans Serif", cyrillicSystem ? c.keepsOn1251 : c.keepsOn1252)
            << c.name << ": " << show(reinterpret_cast<const char16_t*>(face.lfFaceName));
        EXPECT_TRUE(drawsAll(captions, all)) << c.name << ": every caption can be read";
        EXPECT_EQ(face.lfHeight, -11) << c.name << ": 8 points at 96 dpi";
        if (c.shipped) {
            // The label sizes itself to its text; the box beside it must
            // still leave room after the colon.
            EXPECT_LE(clientRectOf(hwndOf(form.Label1)).right + 4, clientRectOf(hwndOf(form.Edit1)).left)
                << c.name << ": \"" << show(c.captions[0]) << "\" keeps clear of its box";
        }
    }
    // The button's "ОК" is in Cyrillic letters in every language; the empty
    // boxes have nothing the layout's face cannot draw.
    const LOGFONTW button = descriptionOf(fontOf(form.SaveBtn));
    EXPECT_EQ(std::wstring(button.lfFaceName) == L"MS Sans Serif", cyrillicSystem);
    EXPECT_TRUE(drawsAll(fontOf(form.SaveBtn), u"\u041E\u041A"));
    EXPECT_EQ(button.lfHeight, -11);
    EXPECT_STREQ(descriptionOf(fontOf(form.Edit1)).lfFaceName, L"MS Sans Serif");
    EXPECT_STREQ(descriptionOf(fontOf(form.Memo1)).lfFaceName, L"MS Sans Serif");
}

class Form : public ::testing::Test {
protected:
    LayoutForm form;
};

// ---- The window and its controls --------------------------------------------

TEST_F(Form, IsAFixedUnownedDialogCreatedHidden) {
    const HWND hwnd = form.hwnd();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_FALSE(form.visible());
    EXPECT_FALSE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), nullptr);
    EXPECT_EQ(GetAncestor(hwnd, GA_PARENT), GetDesktopWindow());
    const LONG style = styleOf(hwnd);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU) << "the close box";
    EXPECT_FALSE(style & WS_THICKFRAME) << "not resizable";
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_TRUE(exStyleOf(hwnd) & WS_EX_DLGMODALFRAME);
    EXPECT_EQ(form.caption(), u"Настройки шифрования");
    EXPECT_EQ(textOf(hwnd), u"Настройки шифрования");
}

TEST_F(Form, ClientAreaIsTheLayoutsAndTheOuterSizeIncludesTheFrame) {
    RECT client;
    GetClientRect(form.hwnd(), &client);
    EXPECT_EQ(client.right - client.left, 375);
    EXPECT_EQ(client.bottom - client.top, 232);
    RECT outer;
    GetWindowRect(form.hwnd(), &outer);
    EXPECT_EQ(form.width(), outer.right - outer.left);
    EXPECT_EQ(form.height(), outer.bottom - outer.top);
    EXPECT_GT(form.width(), 375);
    EXPECT_GT(form.height(), 232 + GetSystemMetrics(SM_CYCAPTION) - 1) << "caption and frame count";
    EXPECT_EQ(form.left(), 503) << "design-time position until placed";
    EXPECT_EQ(form.top(), 171);
}

TEST_F(Form, PositionSettersMoveTheOuterWindow) {
    struct Move {
        int left, top;
    } const moves[] = {{10, 20}, {-1155, 405}, {0, 0}, {700, -5}};
    for (const Move& m : moves) {
        form.setLeft(m.left);
        form.setTop(m.top);
        RECT outer;
        GetWindowRect(form.hwnd(), &outer);
        EXPECT_EQ(outer.left, m.left);
        EXPECT_EQ(outer.top, m.top);
        EXPECT_EQ(form.left(), m.left);
        EXPECT_EQ(form.top(), m.top);
        EXPECT_EQ(outer.right - outer.left, form.width()) << "moving keeps the size";
    }
}

struct ControlLook {
    const char* name;
    const wchar_t* windowClass;
    LONG required;   // styles it must have (within the low word: per class)
    LONG forbidden;  // styles it must not have
    LONG exRequired;
};

const ControlLook looks[] = {
    {"Label1", L"Static", 0, SS_TYPEMASK & ~SS_LEFTNOWORDWRAP, 0},
    {"Edit1", L"Edit", WS_TABSTOP | ES_AUTOHSCROLL, ES_PASSWORD | ES_MULTILINE | ES_READONLY, WS_EX_CLIENTEDGE},
    {"Edit2", L"Edit", WS_TABSTOP | ES_AUTOHSCROLL, ES_PASSWORD | ES_MULTILINE | ES_READONLY, WS_EX_CLIENTEDGE},
    {"Memo1", L"Edit", WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN,
     ES_AUTOHSCROLL | WS_HSCROLL | WS_VSCROLL | ES_READONLY, WS_EX_CLIENTEDGE},
    {"pass_check", L"Button", BS_AUTORADIOBUTTON | WS_GROUP, 0, 0},
    {"file_check", L"Button", BS_AUTORADIOBUTTON, WS_GROUP, 0},
    {"SaveBtn", L"Button", WS_TABSTOP, BS_DEFPUSHBUTTON, 0},
    {"OpenKeyFile", L"MistlockSpeedButton", 0, WS_TABSTOP, 0},
};

forms::TControl& controlNamed(LayoutForm& form, const std::string& name) {
    forms::TControl* all[] = {&form.Label1, &form.Edit1,      &form.Edit2,      &form.Label3,
                              &form.Label2, &form.Label4,     &form.Memo1,      &form.pass_check,
                              &form.file_check, &form.SaveBtn, &form.OpenKeyFile, &form.OD};
    for (forms::TControl* control : all) {
        if (name == control->layoutEntry().name) return *control;
    }
    throw std::logic_error("no control " + name);
}

TEST_F(Form, EachControlIsAChildWindowOfItsKind) {
    for (const ControlLook& look : looks) {
        const HWND hwnd = hwndOf(controlNamed(form, look.name));
        ASSERT_TRUE(IsWindow(hwnd)) << look.name;
        EXPECT_EQ(GetParent(hwnd), form.hwnd()) << look.name;
        EXPECT_EQ(wintest::classOf(hwnd), std::wstring(look.windowClass)) << look.name;
        const LONG style = styleOf(hwnd);
        EXPECT_TRUE(style & WS_VISIBLE) << look.name;
        EXPECT_EQ(style & look.required, look.required) << look.name;
        EXPECT_EQ(style & look.forbidden, 0) << look.name;
        EXPECT_EQ(exStyleOf(hwnd) & look.exRequired, look.exRequired) << look.name;
    }
    // A push button, not the default button: its type is the plain one.
    EXPECT_EQ(styleOf(hwndOf(form.SaveBtn)) & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(form.OD.handle(), 0u) << "the chooser has no window of its own";
}

TEST_F(Form, ControlsSitWhereTheLayoutPutsThem) {
    const layout::Form& description = layout::setpassLayout;
    for (std::size_t i = 0; i < description.controlCount; ++i) {
        const layout::Control& entry = description.controls[i];
        if (entry.kind == layout::Kind::OpenDialog) continue;
        const RECT rect = clientRectOf(hwndOf(controlNamed(form, entry.name)));
        EXPECT_EQ(rect.left, entry.left) << entry.name;
        EXPECT_EQ(rect.top, entry.top) << entry.name;
        EXPECT_EQ(rect.bottom - rect.top, entry.height) << entry.name;
        if (entry.kind == layout::Kind::Label) {
            // Labels take the width of their text.
            EXPECT_GT(rect.right - rect.left, 0) << entry.name;
            EXPECT_LT(rect.left + (rect.right - rect.left), 375) << entry.name << " fits the form";
        } else {
            EXPECT_EQ(rect.right - rect.left, entry.width) << entry.name;
        }
    }
}

TEST_F(Form, EveryCaptionCanBeReadInTheControlsFont) {
    for (const ControlLook& look : looks) {
        const HWND hwnd = hwndOf(controlNamed(form, look.name));
        const std::u16string text = textOf(hwnd);
        if (text.empty()) continue;
        const auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
        EXPECT_TRUE(drawsAll(font, text)) << look.name << ": " << show(text);
    }
}

TEST_F(Form, DesignTimeTextsAndStates) {
    EXPECT_EQ(form.Label1.caption(), u"Пароль:");
    EXPECT_EQ(form.Label3.caption(), u"Файл с ключом:");
    EXPECT_EQ(form.Label2.caption(), u"Шифровать при отправке на эти уины:");
    EXPECT_EQ(form.Label4.caption(), u"Использовать:");
    EXPECT_EQ(form.pass_check.caption(), u"Введённый пароль");
    EXPECT_EQ(form.file_check.caption(), u"Файл с ключом");
    EXPECT_EQ(textOf(hwndOf(form.SaveBtn)), u"\u041E\u041A");
    EXPECT_EQ(form.OpenKeyFile.hint(), u"Указать файл...");
    EXPECT_EQ(textOf(hwndOf(form.OpenKeyFile)), u"") << "no caption";
    EXPECT_EQ(form.Edit1.text(), u"");
    EXPECT_EQ(form.Edit2.text(), u"");
    EXPECT_EQ(form.Memo1.text(), u"");
    EXPECT_TRUE(form.Memo1.lines().empty());
    EXPECT_TRUE(form.pass_check.checked());
    EXPECT_FALSE(form.file_check.checked());
}

// ---- Contents live in the windows --------------------------------------------

TEST_F(Form, TextsAreTheWindowsTexts) {
    struct Case {
        forms::TControl& control;
        std::function<void(const std::u16string&)> set;
        std::function<std::u16string()> get;
    };
    const Case cases[] = {
        {form.Edit1, [&](auto& t) { form.Edit1.setText(t); }, [&] { return form.Edit1.text(); }},
        {form.Edit2, [&](auto& t) { form.Edit2.setText(t); }, [&] { return form.Edit2.text(); }},
        {form.Memo1, [&](auto& t) { form.Memo1.setText(t); }, [&] { return form.Memo1.text(); }},
        {form.Label1, [&](auto& t) { form.Label1.setCaption(t); }, [&] { return form.Label1.caption(); }},
        {form.file_check, [&](auto& t) { form.file_check.setCaption(t); }, [&] { return form.file_check.caption(); }},
    };
    for (const Case& c : cases) {
        const HWND hwnd = hwndOf(c.control);
        const char* name = c.control.layoutEntry().name;
        // Set through the toolkit, seen in the window.
        c.set(u"Пароль №1 & ключ");
        EXPECT_EQ(textOf(hwnd), u"Пароль №1 & ключ") << name;
        // Changed in the window, seen through the toolkit.
        SetWindowTextW(hwnd, L"typed \x0416");
        EXPECT_EQ(c.get(), u"typed \u0416") << name;
        c.set(u"");
        EXPECT_EQ(c.get(), u"") << name;
    }
    form.setCaption(u"Title");
    EXPECT_EQ(textOf(form.hwnd()), u"Title");
}

TEST_F(Form, MemoTextKeepsItsLineBreaks) {
    form.Memo1.setText(u"111\r\n222\r\n333");
    EXPECT_EQ(form.Memo1.text(), u"111\r\n222\r\n333");
    EXPECT_EQ(form.Memo1.lines(), (std::vector<std::u16string>{u"111", u"222", u"333"}));
    EXPECT_EQ(SendMessageW(hwndOf(form.Memo1), EM_GETLINECOUNT, 0, 0), 3);
    // A long line wraps on the screen but stays one line of text.
    const std::u16string longLine(200, u'9');
    form.Memo1.setText(longLine);
    EXPECT_GT(SendMessageW(hwndOf(form.Memo1), EM_GETLINECOUNT, 0, 0), 1) << "wrapped at the edge";
    EXPECT_EQ(form.Memo1.lines(), std::vector<std::u16string>{longLine});
}

TEST_F(Form, EditBoxesHaveNoLengthLimit) {
    // Past the 32767 characters an edit box takes by default.
    const std::u16string text(33000, u'x');
    form.Edit1.setText(text);
    EXPECT_EQ(form.Edit1.text().size(), 33000u);
    std::u16string lines;
    for (int i = 0; i < 3000; ++i) lines += u"1234567890\r\n";
    form.Memo1.setText(lines);
    EXPECT_EQ(form.Memo1.text().size(), lines.size());
}

TEST_F(Form, RadioButtonsFormOneGroup) {
    form.file_check.setChecked(true);
    EXPECT_TRUE(form.file_check.checked());
    EXPECT_FALSE(form.pass_check.checked());
    EXPECT_EQ(SendMessageW(hwndOf(form.pass_check), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    // A click on the window checks it and unchecks the other, as for a user.
    SendMessageW(hwndOf(form.pass_check), BM_CLICK, 0, 0);
    EXPECT_TRUE(form.pass_check.checked());
    EXPECT_FALSE(form.file_check.checked());
    SendMessageW(hwndOf(form.file_check), BM_CLICK, 0, 0);
    EXPECT_TRUE(form.file_check.checked());
    EXPECT_FALSE(form.pass_check.checked());
    form.file_check.setChecked(false);
    EXPECT_FALSE(form.file_check.checked());
    EXPECT_FALSE(form.pass_check.checked()) << "unchecking checks nothing else";
}

TEST_F(Form, LabelsGrowAndShrinkWithTheirCaption) {
    const RECT before = clientRectOf(hwndOf(form.Label4));
    form.Label4.setCaption(u"Use for encrypting the messages:");
    const RECT longer = clientRectOf(hwndOf(form.Label4));
    EXPECT_EQ(longer.left, before.left);
    EXPECT_EQ(longer.top, before.top);
    EXPECT_GT(longer.right - longer.left, before.right - before.left);
    form.Label4.setCaption(u"Use:");
    const RECT shorter = clientRectOf(hwndOf(form.Label4));
    EXPECT_LT(shorter.right - shorter.left, before.right - before.left);
}

// ---- Showing and closing ---------------------------------------------------------

TEST_F(Form, ShowingRunsOnShowOnceAndBringsTheFormToTheFront) {
    form.setLeft(200);
    form.setTop(150);
    showAndSettle(form);
    EXPECT_TRUE(form.visible());
    EXPECT_EQ(form.shows, 1);
    EXPECT_EQ(form.left(), 200);
    EXPECT_EQ(form.top(), 150);
    EXPECT_EQ(GetForegroundWindow(), form.hwnd());
    EXPECT_EQ(GetFocus(), hwndOf(form.Edit1)) << "the first tab stop has the focus";

    // Another window comes in front; showing again moves the form and brings
    // it back without running onShow again.
    const HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE | WS_CAPTION, 150, 100, 500, 400,
                                       nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    pumpUntil([&] { return GetForegroundWindow() == other; }, 2000);
    form.setLeft(300);
    form.setTop(250);
    form.show();
    pumpUntil([&] { return GetForegroundWindow() == form.hwnd(); }, 2000);
    EXPECT_EQ(form.shows, 1);
    EXPECT_EQ(form.left(), 300);
    EXPECT_EQ(form.top(), 250);
    EXPECT_EQ(GetForegroundWindow(), form.hwnd());
    DestroyWindow(other);
}

TEST_F(Form, EveryWayOfClosingRunsOnCloseAndHides) {
    const std::function<void()> ways[] = {
        [&] { form.close(); },
        [&] { SendMessageW(form.hwnd(), WM_CLOSE, 0, 0); },
        [&] { SendMessageW(form.hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); },  // the system menu, Alt+F4
    };
    int expectedCloses = 0;
    for (const auto& closeIt : ways) {
        showAndSettle(form);
        ASSERT_TRUE(form.visible());
        closeIt();
        pumpMessages(20);
        EXPECT_EQ(form.closes, ++expectedCloses);
        EXPECT_FALSE(form.visible());
        EXPECT_TRUE(IsWindow(form.hwnd())) << "hidden, never destroyed";
    }
    EXPECT_EQ(form.shows, 3) << "each showing after a close runs onShow";
}

TEST_F(Form, ControlsKeepTheirContentAcrossClosing) {
    showAndSettle(form);
    form.Edit1.setText(u"unsaved");
    form.file_check.setChecked(true);
    form.close();
    showAndSettle(form);
    EXPECT_EQ(form.Edit1.text(), u"unsaved");
    EXPECT_TRUE(form.file_check.checked());
}

TEST_F(Form, ARefusedCloseShowsTheErrorAndTheFormStays) {
    showAndSettle(form);
    form.onCloseDoes = [] { throw EFileError("Cannot write the file \"X:\\Mistlock.ini\": the file is read-only"); };
    MessageBoxes boxes;
    boxes.whileShown = [&] { return form.visible() ? "visible" : "hidden"; };
    SendMessageW(form.hwnd(), WM_CLOSE, 0, 0);
    ASSERT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(boxes.seen[0].text, u"Cannot write the file \"X:\\Mistlock.ini\": the file is read-only");
    EXPECT_TRUE(boxes.seen[0].icon) << "the error box has an error icon";
    EXPECT_EQ(boxes.seen[0].note, "visible") << "the form stays while the error is shown";
    EXPECT_TRUE(form.visible());
    // The cause mended, the next close goes through.
    form.onCloseDoes = nullptr;
    SendMessageW(form.hwnd(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(form.visible());
    EXPECT_EQ(boxes.seen.size(), 1u);
    EXPECT_EQ(form.closes, 2);
}

// While the error box of a form on the screen is up, the form takes no input
// (a modal box disables its owner), so that pressing OK or closing again
// cannot stack a second box; afterwards it takes input again. The box of a
// hidden form has no owner and disables nothing.
TEST_F(Form, AnErrorBoxIsModalToTheFormOnTheScreen) {
    form.onCloseDoes = [] { throw EFileError("Cannot write the file \"X:\\Mistlock.ini\": the file is read-only"); };
    form.SaveBtn.onClick = [] { throw std::runtime_error("broken handler"); };
    form.OpenKeyFile.onClick = [] { throw 42; };
    struct Case {
        const char* name;
        bool shown;
        std::function<void()> fail;
        const char* formWhileBoxIsUp;
    } const cases[] = {
        {"close of a hidden form", false, [&] { form.close(); }, "enabled"},
        {"close box", true, [&] { SendMessageW(form.hwnd(), WM_CLOSE, 0, 0); }, "disabled"},
        {"push button", true, [&] { SendMessageW(hwndOf(form.SaveBtn), BM_CLICK, 0, 0); }, "disabled"},
        {"speed button", true,
         [&] {
             SendMessageW(hwndOf(form.OpenKeyFile), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
             SendMessageW(hwndOf(form.OpenKeyFile), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
         },
         "disabled"},
    };
    for (const Case& c : cases) {
        if (c.shown && !form.visible()) showAndSettle(form);
        ASSERT_EQ(form.visible(), c.shown) << c.name;
        MessageBoxes boxes;
        boxes.whileShown = [&] { return IsWindowEnabled(form.hwnd()) ? "enabled" : "disabled"; };
        c.fail();
        ASSERT_EQ(boxes.seen.size(), 1u) << c.name;
        EXPECT_TRUE(boxes.seen[0].icon) << c.name;
        EXPECT_EQ(boxes.seen[0].note, c.formWhileBoxIsUp) << c.name;
        EXPECT_TRUE(IsWindowEnabled(form.hwnd())) << c.name << ": the form takes input again";
        EXPECT_EQ(form.visible(), c.shown) << c.name;
    }
}

TEST(FormLifetime, DestroyingRemovesTheWindowsWithoutClosing) {
    HWND hwnd = nullptr;
    HWND edit = nullptr;
    int closes = -1;
    {
        LayoutForm form;
        showAndSettle(form);
        hwnd = form.hwnd();
        edit = hwndOf(form.Edit1);
        form.closes = 0;
        closes = 0;
        // Destroyed while visible: onClose must not run.
        form.onCloseDoes = [&] { ++closes; };
    }
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_FALSE(IsWindow(edit));
    EXPECT_EQ(closes, 0);
}

TEST(FormLifetime, TwoFormsKeepTheirOwnKeyboardWhenOneGoes) {
    LayoutForm kept;
    {
        LayoutForm gone;
        showAndSettle(gone);
    }
    showAndSettle(kept);
    ASSERT_EQ(GetFocus(), hwndOf(kept.Edit1));
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), hwndOf(kept.Edit2)) << "the keyboard hook outlives the other form";
}

// ---- Buttons ----------------------------------------------------------------------

TEST_F(Form, PushButtonClickRunsItsHandler) {
    int clicks = 0;
    form.SaveBtn.onClick = [&] { ++clicks; };
    showAndSettle(form);
    SendMessageW(hwndOf(form.SaveBtn), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    // Space on the focused button is a click too.
    SetFocus(hwndOf(form.SaveBtn));
    pressKey(VK_SPACE);
    EXPECT_EQ(clicks, 2);
}

TEST_F(Form, AHandlerThatRaisesIsReportedAndGoesNoFurther) {
    form.SaveBtn.onClick = [] { throw std::runtime_error("broken handler"); };
    form.OpenKeyFile.onClick = [] { throw 42; };
    MessageBoxes boxes;
    SendMessageW(hwndOf(form.SaveBtn), BM_CLICK, 0, 0);
    SendMessageW(hwndOf(form.OpenKeyFile), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(hwndOf(form.OpenKeyFile), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ASSERT_EQ(boxes.seen.size(), 2u);
    EXPECT_EQ(boxes.seen[0].text, u"broken handler");
    EXPECT_TRUE(boxes.seen[0].icon);
    EXPECT_FALSE(boxes.seen[1].text.empty());
}

TEST_F(Form, SpeedButtonClicksWithTheMouseButNeverTakesTheFocus) {
    int clicks = 0;
    form.OpenKeyFile.onClick = [&] { ++clicks; };
    showAndSettle(form);
    const HWND button = hwndOf(form.OpenKeyFile);
    ASSERT_EQ(GetFocus(), hwndOf(form.Edit1));
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(clicks, 0) << "a click is a press and a release";
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(GetFocus(), hwndOf(form.Edit1));
    // Released outside: no click, as with any button.
    SendMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(60, 5));
    EXPECT_EQ(clicks, 1);
}

TEST_F(Form, SpeedButtonHintIsItsToolTip) {
    // The tool tip window belongs to the form.
    HWND tip = nullptr;
    for (HWND window = GetWindow(GetDesktopWindow(), GW_CHILD); window; window = GetWindow(window, GW_HWNDNEXT)) {
        if (wintest::classOf(window) == TOOLTIPS_CLASSW && GetWindow(window, GW_OWNER) == form.hwnd()) tip = window;
    }
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0), 1);
    auto tipText = [&] {
        wchar_t text[256] = {};
        TOOLINFOW info{};
        info.cbSize = TTTOOLINFOW_V2_SIZE;
        info.hwnd = form.hwnd();
        info.uId = reinterpret_cast<UINT_PTR>(hwndOf(form.OpenKeyFile));
        info.lpszText = text;
        SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&info));
        return std::u16string(text, text + wcslen(text));
    };
    EXPECT_EQ(tipText(), u"Указать файл...");
    form.OpenKeyFile.setHint(u"Choose a file...");
    EXPECT_EQ(form.OpenKeyFile.hint(), u"Choose a file...");
    EXPECT_EQ(tipText(), u"Choose a file...");
}

// ---- What the user sees -------------------------------------------------------------

TEST_F(Form, BackgroundsAndTheGlyphOnTheScreen) {
    form.setLeft(40);
    form.setTop(40);
    showAndSettle(form);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(pixelAt(form.hwnd(), 370, 2), face) << "the form";
    EXPECT_EQ(pixelAt(form.hwnd(), 8 + 330, 59 + 10), face) << "Edit2 is on the button face";
    EXPECT_EQ(pixelAt(form.hwnd(), 64 + 300, 8 + 10), GetSysColor(COLOR_WINDOW)) << "Edit1 is not";
    // The folder glyph: drawn, with its magenta background left out.
    int magenta = 0, drawn = 0;
    for (int y = 59; y < 59 + 21; ++y) {
        for (int x = 346; x < 346 + 23; ++x) {
            const COLORREF c = pixelAt(form.hwnd(), x, y);
            if (c == RGB(255, 0, 255)) ++magenta;
            if (c != face) ++drawn;
        }
    }
    EXPECT_EQ(magenta, 0);
    EXPECT_GT(drawn, 60);
}

// ---- The keyboard, through a message loop without IsDialogMessage ---------------------

TEST_F(Form, TabCyclesInTabOrderWithTheRadioGroupAsOneStop) {
    showAndSettle(form);
    ASSERT_EQ(GetFocus(), hwndOf(form.Edit1));
    const HWND forward[] = {hwndOf(form.Edit2), hwndOf(form.Memo1), hwndOf(form.pass_check), hwndOf(form.SaveBtn),
                            hwndOf(form.Edit1)};
    for (HWND expected : forward) {
        pressKey(VK_TAB);
        EXPECT_EQ(GetFocus(), expected);
    }
    const HWND backward[] = {hwndOf(form.SaveBtn), hwndOf(form.pass_check), hwndOf(form.Memo1), hwndOf(form.Edit2),
                             hwndOf(form.Edit1)};
    for (HWND expected : backward) {
        pressKey(VK_TAB, true);
        EXPECT_EQ(GetFocus(), expected);
    }
    EXPECT_EQ(form.Memo1.text(), u"") << "no tab character was typed";
    EXPECT_EQ(form.Edit1.text(), u"");
}

TEST_F(Form, TabEntersTheRadioGroupAtItsCheckedButton) {
    form.file_check.setChecked(true);
    showAndSettle(form);
    SetFocus(hwndOf(form.Memo1));
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), hwndOf(form.file_check));
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), hwndOf(form.SaveBtn));
    pressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), hwndOf(form.file_check));
}

TEST_F(Form, ArrowsMoveWithinTheRadioGroupAndCheck) {
    showAndSettle(form);
    SetFocus(hwndOf(form.pass_check));
    pressKey(VK_DOWN);
    EXPECT_EQ(GetFocus(), hwndOf(form.file_check));
    EXPECT_TRUE(form.file_check.checked());
    EXPECT_FALSE(form.pass_check.checked());
    pressKey(VK_UP);
    EXPECT_EQ(GetFocus(), hwndOf(form.pass_check));
    EXPECT_TRUE(form.pass_check.checked());
    EXPECT_FALSE(form.file_check.checked());
}

TEST_F(Form, TabbingIntoAnEditSelectsItsText) {
    form.Edit2.setText(u"C:\\keys\\key.txt");
    showAndSettle(form);
    pressKey(VK_TAB);
    ASSERT_EQ(GetFocus(), hwndOf(form.Edit2));
    DWORD start = 0, end = 0;
    SendMessageW(hwndOf(form.Edit2), EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 15u);
}

TEST_F(Form, TypingGoesIntoTheFocusedEdit) {
    showAndSettle(form);
    ASSERT_EQ(GetFocus(), hwndOf(form.Edit1));
    wintest::typeText(u"секрет 42");
    EXPECT_EQ(form.Edit1.text(), u"секрет 42");
    pressKey(VK_BACK);
    EXPECT_EQ(form.Edit1.text(), u"секрет 4");
}

TEST_F(Form, TypingThroughTheSystemsKeyboardInput) {
    showAndSettle(form);
    ASSERT_EQ(GetForegroundWindow(), form.hwnd());
    ASSERT_EQ(GetFocus(), hwndOf(form.Edit1));
    std::vector<INPUT> keys;
    for (char16_t c : std::u16string(u"pw Ж")) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wScan = c;
        input.ki.dwFlags = KEYEVENTF_UNICODE;
        keys.push_back(input);
        input.ki.dwFlags |= KEYEVENTF_KEYUP;
        keys.push_back(input);
    }
    // Then Tab, a real key, to the next control.
    INPUT tab{};
    tab.type = INPUT_KEYBOARD;
    tab.ki.wVk = VK_TAB;
    keys.push_back(tab);
    tab.ki.dwFlags = KEYEVENTF_KEYUP;
    keys.push_back(tab);
    ASSERT_EQ(SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT)), keys.size());
    EXPECT_TRUE(pumpUntil([&] { return GetFocus() == hwndOf(form.Edit2); }, 3000));
    EXPECT_EQ(form.Edit1.text(), u"pw Ж");
}

TEST_F(Form, EnterAndEscapeHaveNoDialogWideMeaning) {
    int clicks = 0;
    form.SaveBtn.onClick = [&] { ++clicks; };
    form.Edit1.setText(u"abc");
    showAndSettle(form);
    SendMessageW(hwndOf(form.Edit1), EM_SETSEL, 3, 3);
    pressKey(VK_RETURN);
    pressKey(VK_ESCAPE);
    EXPECT_EQ(form.Edit1.text(), u"abc");
    // Enter in the memo starts a new line; Esc there does nothing either.
    SetFocus(hwndOf(form.Memo1));
    wintest::typeText(u"111");
    pressKey(VK_RETURN);  // the message loop makes the character of it
    wintest::typeText(u"222");
    pressKey(VK_ESCAPE);
    pumpMessages(50);
    EXPECT_EQ(form.Memo1.text(), u"111\r\n222");
    EXPECT_EQ(form.Memo1.lines(), (std::vector<std::u16string>{u"111", u"222"}));
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(form.closes, 0);
    EXPECT_TRUE(form.visible());
}

// ---- The keyboard: what only navigation may do ------------------------------------------
// Tab, Shift+Tab and the arrows move the focus; every other key is the focused
// control's, as in a window that is no dialog. These pin what a dialog manager
// would otherwise add: a default button, Enter and Esc as OK and Cancel,
// Ctrl+Tab as Tab.

// A key pressed at the focused window with Ctrl held.
void pressKeyWithControl(UINT virtualKey) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    SetKeyboardState(keys);
    pressKey(virtualKey);
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0;
    SetKeyboardState(keys);
}

std::pair<DWORD, DWORD> selectionOf(HWND edit) {
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    return {start, end};
}

TEST_F(Form, EnterAndEscapeMeanNothingToTheFormWhereverTheFocusIs) {
    struct Case {
        const char* focused;
        const char16_t* memoAfter;
    } const cases[] = {
        {"Edit1", u"m"}, {"Edit2", u"m"}, {"Memo1", u"m\r\n"}, {"pass_check", u"m"}, {"SaveBtn", u"m"},
    };
    int clicks = 0;
    form.SaveBtn.onClick = [&] { ++clicks; };
    showAndSettle(form);
    for (const Case& c : cases) {
        form.Edit1.setText(u"e1");
        form.Edit2.setText(u"e2");
        form.Memo1.setText(u"m");
        const HWND focused = hwndOf(controlNamed(form, c.focused));
        // Left and come back to by the keyboard: a control that the dialog
        // manager has asked about behaves as one in a dialog from then on.
        SetFocus(focused);
        pressKey(VK_TAB);
        pressKey(VK_TAB, true);
        ASSERT_EQ(GetFocus(), focused) << c.focused;
        SendMessageW(focused, EM_SETSEL, 2, 2);  // the caret at the end of an edit; nothing to a button
        pressKey(VK_RETURN);
        pressKey(VK_ESCAPE);
        EXPECT_EQ(GetFocus(), focused) << c.focused;
        EXPECT_EQ(form.Edit1.text(), u"e1") << c.focused;
        EXPECT_EQ(form.Edit2.text(), u"e2") << c.focused;
        EXPECT_EQ(form.Memo1.text(), c.memoAfter) << c.focused;
        EXPECT_TRUE(form.pass_check.checked()) << c.focused;
        EXPECT_EQ(clicks, 0) << c.focused << ": Enter is no click, not even on the button";
        EXPECT_EQ(form.closes, 0) << c.focused << ": Esc closes nothing, not even from the memo";
        EXPECT_TRUE(form.visible()) << c.focused;
    }
}

TEST_F(Form, ThePushButtonNeverBecomesTheDefaultButton) {
    int clicks = 0;
    form.SaveBtn.onClick = [&] { ++clicks; };
    showAndSettle(form);
    const HWND button = hwndOf(form.SaveBtn);
    SetFocus(hwndOf(form.pass_check));
    pressKey(VK_TAB);
    ASSERT_EQ(GetFocus(), button);
    EXPECT_EQ(styleOf(button) & BS_TYPEMASK, BS_PUSHBUTTON) << "focused by Tab";
    for (UINT arrow : {VK_UP, VK_DOWN, VK_LEFT, VK_RIGHT}) {
        pressKey(arrow);
        EXPECT_EQ(GetFocus(), button) << "arrow " << arrow;
        EXPECT_EQ(styleOf(button) & BS_TYPEMASK, BS_PUSHBUTTON) << "arrow " << arrow;
    }
    pressKey(VK_RETURN);
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), hwndOf(form.Edit1));
    EXPECT_EQ(styleOf(button) & BS_TYPEMASK, BS_PUSHBUTTON) << "after the focus left it";
    EXPECT_EQ(clicks, 0);
}

TEST_F(Form, ControlTabIsTheFocusedControlsOwn) {
    struct Case {
        const char* focused;
        const char16_t* memoAfter;
    } const cases[] = {
        {"Edit1", u"m"}, {"Edit2", u"m"}, {"Memo1", u"m"}, {"SaveBtn", u"m"},
    };
    showAndSettle(form);
    for (const Case& c : cases) {
        form.Edit1.setText(u"e1");
        form.Memo1.setText(u"m");
        const HWND focused = hwndOf(controlNamed(form, c.focused));
        SetFocus(focused);
        pressKey(VK_TAB);
        pressKey(VK_TAB, true);
        ASSERT_EQ(GetFocus(), focused) << c.focused;
        SendMessageW(focused, EM_SETSEL, 1, 1);
        pressKeyWithControl(VK_TAB);
        EXPECT_EQ(GetFocus(), focused) << c.focused << ": Ctrl+Tab moves no focus";
        EXPECT_EQ(form.Edit1.text(), u"e1") << c.focused;
        EXPECT_EQ(form.Memo1.text(), c.memoAfter) << c.focused;
    }
}

TEST_F(Form, ArrowsInAnEditMoveTheCaretNotTheFocus) {
    struct Case {
        const char* focused;
        UINT key;
        DWORD caretBefore, caretAfter;
    } const cases[] = {
        {"Edit1", VK_LEFT, 3, 2},  {"Edit1", VK_RIGHT, 1, 2}, {"Edit1", VK_UP, 2, 1},
        {"Edit2", VK_LEFT, 3, 2},  {"Memo1", VK_DOWN, 1, 6},  {"Memo1", VK_UP, 6, 1},
        {"Memo1", VK_RIGHT, 0, 1},
    };
    showAndSettle(form);
    form.Edit1.setText(u"abc");
    form.Edit2.setText(u"abc");
    form.Memo1.setText(u"abc\r\ndef");
    for (const Case& c : cases) {
        const HWND focused = hwndOf(controlNamed(form, c.focused));
        SetFocus(focused);
        SendMessageW(focused, EM_SETSEL, c.caretBefore, c.caretBefore);
        pressKey(c.key);
        EXPECT_EQ(GetFocus(), focused) << c.focused << " key " << c.key;
        EXPECT_EQ(selectionOf(focused), std::make_pair(c.caretAfter, c.caretAfter)) << c.focused << " key " << c.key;
    }
    EXPECT_TRUE(form.pass_check.checked());
}

TEST_F(Form, TabIntoAnEditFromEitherSideSelectsAllOfIt) {
    struct Case {
        const char* from;
        bool backwards;
        const char* to;
        DWORD length;
    } const cases[] = {
        {"Edit2", false, "Memo1", 8},   {"pass_check", true, "Memo1", 8}, {"SaveBtn", false, "Edit1", 3},
        {"Edit2", true, "Edit1", 3},    {"Memo1", true, "Edit2", 5},
    };
    form.Edit1.setText(u"abc");
    form.Edit2.setText(u"a.txt");
    form.Memo1.setText(u"abc\r\ndef");
    showAndSettle(form);
    for (const Case& c : cases) {
        const HWND to = hwndOf(controlNamed(form, c.to));
        SendMessageW(to, EM_SETSEL, 1, 1);
        SetFocus(hwndOf(controlNamed(form, c.from)));
        pressKey(VK_TAB, c.backwards);
        ASSERT_EQ(GetFocus(), to) << c.from << " to " << c.to;
        EXPECT_EQ(selectionOf(to), std::make_pair(DWORD(0), c.length)) << c.from << " to " << c.to;
    }
}

TEST_F(Form, WithNoRadioButtonCheckedTheGroupsStopIsItsFirstButton) {
    form.pass_check.setChecked(false);
    ASSERT_FALSE(form.file_check.checked());
    showAndSettle(form);
    SetFocus(hwndOf(form.Memo1));
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), hwndOf(form.pass_check));
    pressKey(VK_TAB);
    EXPECT_EQ(GetFocus(), hwndOf(form.SaveBtn));
    pressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), hwndOf(form.pass_check));
    pressKey(VK_TAB, true);
    EXPECT_EQ(GetFocus(), hwndOf(form.Memo1));
}

TEST_F(Form, AFocusedRadioButtonThatLostItsCheckStandsForItsGroup) {
    struct Case {
        const char* focused;
        const char* checkedLater;
        bool backwards;
        const char* next;
    } const cases[] = {
        {"pass_check", "file_check", false, "SaveBtn"},
        {"pass_check", "file_check", true, "Memo1"},
        {"file_check", "pass_check", false, "SaveBtn"},
        {"file_check", "pass_check", true, "Memo1"},
    };
    showAndSettle(form);
    for (const Case& c : cases) {
        const HWND focused = hwndOf(controlNamed(form, c.focused));
        static_cast<forms::TRadioButton&>(controlNamed(form, c.focused)).setChecked(true);
        SetFocus(focused);
        static_cast<forms::TRadioButton&>(controlNamed(form, c.checkedLater)).setChecked(true);
        ASSERT_EQ(GetFocus(), focused);
        ASSERT_EQ(SendMessageW(focused, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        pressKey(VK_TAB, c.backwards);
        EXPECT_EQ(GetFocus(), hwndOf(controlNamed(form, c.next)))
            << c.focused << (c.backwards ? " Shift+Tab" : " Tab");
    }
}

TEST_F(Form, EachControlTellsTheDialogManagerWhatItWants) {
    struct Case {
        const char* name;
        LRESULT code;
    } const cases[] = {
        // Edit boxes want characters and arrows and take a selection; the
        // memo does not want Tab or Enter from it.
        {"Edit1", DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_HASSETSEL},
        {"Edit2", DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_HASSETSEL},
        {"Memo1", DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_HASSETSEL},
        {"pass_check", DLGC_BUTTON | DLGC_RADIOBUTTON},
        {"file_check", DLGC_BUTTON | DLGC_RADIOBUTTON},
        {"SaveBtn", DLGC_BUTTON},  // a button, but no push button that could be the default
        {"OpenKeyFile", 0},
    };
    for (const Case& c : cases) {
        const HWND hwnd = hwndOf(controlNamed(form, c.name));
        for (UINT key : {VK_TAB, VK_RETURN, VK_ESCAPE, VK_DOWN}) {
            MSG message{hwnd, WM_KEYDOWN, key, 1, 0, {0, 0}};
            EXPECT_EQ(SendMessageW(hwnd, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&message)), c.code)
                << c.name << " asked about key " << key;
        }
        EXPECT_EQ(SendMessageW(hwnd, WM_GETDLGCODE, 0, 0), c.code) << c.name;
    }
    // Having been asked, the memo still takes Esc as a key and not as a
    // request to close its dialog.
    showAndSettle(form);
    SetFocus(hwndOf(form.Memo1));
    SendMessageW(hwndOf(form.Memo1), WM_KEYDOWN, VK_ESCAPE, 1);
    pumpMessages(50);
    EXPECT_EQ(form.closes, 0);
    EXPECT_TRUE(form.visible());
}

TEST_F(Form, TheRadioGroupsTabStopFollowsItsCheckShownOrNot) {
    struct Case {
        const char* checked;  // null: the checked one unchecked
        bool shown;
        bool passStop, fileStop;
    } const cases[] = {
        {"file_check", false, false, true}, {"pass_check", false, true, false}, {nullptr, false, true, false},
        {"file_check", true, false, true},  {nullptr, true, true, false},       {"pass_check", true, true, false},
    };
    for (const Case& c : cases) {
        if (c.shown && !form.visible()) showAndSettle(form);
        if (c.checked) {
            static_cast<forms::TRadioButton&>(controlNamed(form, c.checked)).setChecked(true);
        } else {
            (form.pass_check.checked() ? form.pass_check : form.file_check).setChecked(false);
        }
        const std::string row = std::string(c.checked ? c.checked : "none") + (c.shown ? ", shown" : ", hidden");
        EXPECT_EQ((styleOf(hwndOf(form.pass_check)) & WS_TABSTOP) != 0, c.passStop) << row;
        EXPECT_EQ((styleOf(hwndOf(form.file_check)) & WS_TABSTOP) != 0, c.fileStop) << row;
    }
}

TEST_F(Form, TheFormKeepsRoomForTheDialogManagersState) {
    // Without it the system's dialog procedure has nowhere to keep the
    // dialog's state and does not treat the form as a dialog.
    EXPECT_GE(GetClassLongPtrW(form.hwnd(), GCL_CBWNDEXTRA), 30);
}

// ---- The chooser ----------------------------------------------------------------------

class Chooser : public Form {
protected:
    wintest::ScratchFolder folder{L"mistlock-chooser"};
};

TEST_F(Chooser, ConfirmedFileGivesItsFullPath) {
    folder.write(L"key.txt", "secret\r\n");
    wintest::ChooserScript script(form.hwnd(), folder.file(L"key.txt"));
    ASSERT_TRUE(form.OD.execute());
    EXPECT_TRUE(script.answered);
    EXPECT_EQ(form.OD.fileName(), folder.file16(L"key.txt"));
    ASSERT_FALSE(script.filters.empty());
    // Text files first: a key file's first line is the key, so a picture
    // would give a near-constant key. Every file stays one choice away.
    const std::vector<std::wstring> expected = {L"\x0424\x0430\x0439\x043B \x043A\x043B\x044E\x0447\x0430",
                                                L"\x0412\x0441\x0435 \x0444\x0430\x0439\x043B\x044B"};
    // Файл ключа (*.txt), then Все файлы (*.*)
    EXPECT_EQ(script.filters, expected);
}

TEST_F(Chooser, CancelGivesFalseAndKeepsTheLastFile) {
    folder.write(L"key.txt", "secret\r\n");
    {
        wintest::ChooserScript confirm(form.hwnd(), folder.file(L"key.txt"));
        ASSERT_TRUE(form.OD.execute());
    }
    wintest::ChooserScript cancel(form.hwnd(), std::nullopt);
    EXPECT_FALSE(form.OD.execute());
    EXPECT_TRUE(cancel.answered);
    EXPECT_EQ(form.OD.fileName(), folder.file16(L"key.txt"));
}

TEST_F(Chooser, LeavesTheCurrentFolderAlone) {
    folder.write(L"key.txt", "secret\r\n");
    wchar_t before[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, before);
    wintest::ChooserScript script(form.hwnd(), folder.file(L"key.txt"));
    ASSERT_TRUE(form.OD.execute());
    wchar_t after[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, after);
    EXPECT_STREQ(after, before) << "the host's current folder must not move";
}

}  // namespace
