// Layout of the settings dialog `setpass`, designed at 96 dpi.
#include "resources/setpass_layout.h"

#include <cstring>

namespace layout {

const Control* Form::find(const char* controlName) const {
    for (std::size_t i = 0; i < controlCount; ++i) {
        if (std::strcmp(controls[i].name, controlName) == 0) return &controls[i];
    }
    return nullptr;
}

namespace {

// In the order in which the dialog declares its controls.
const Control setpassControls[] = {
    {"Label1", Kind::Label, 8, 12, 41, 13, u"Пароль:", -1, Transparent},
    {"Edit1", Kind::Edit, 72, 8, 297, 21, u"", 0, SunkenBorder},
    {"OD", Kind::OpenDialog, 0, 0, 0, 0, u"Файл ключа|*.txt|Все файлы|*.*", -1, FileMustExist | Resizable},
    {"Edit2", Kind::Edit, 8, 59, 336, 21, u"", 1, SunkenBorder | ButtonFace},
    {"Label3", Kind::Label, 8, 43, 83, 13, u"Файл с ключом:", -1, Transparent},
    {"Label2", Kind::Label, 8, 95, 195, 13, u"Шифровать при отправке на эти уины:", -1, Transparent},
    {"Label4", Kind::Label, 224, 95, 76, 13, u"Использовать:", -1, Transparent},
    {"Memo1", Kind::Memo, 8, 114, 193, 109, u"", 2, SunkenBorder | WordWrap | WantReturns},
    {"pass_check", Kind::RadioButton, 224, 128, 113, 17, u"Введённый пароль", 3, Checked | GroupStart},
    {"file_check", Kind::RadioButton, 224, 160, 113, 17, u"Файл с ключом", 4, None},
    {"SaveBtn", Kind::Button, 207, 196, 162, 28, u"\u041E\u041A", 5, None},
    {"OpenKeyFile", Kind::SpeedButton, 346, 59, 23, 21, u"Указать файл...", -1, Flat | ShowHint | Glyph},
};

}  // namespace

const Form setpassLayout = {
    "setpass",
    u"Настройки шифрования",
    375,
    232,
    503,
    171,
    u"MS Sans Serif",
    11,
    setpassControls,
    sizeof(setpassControls) / sizeof(setpassControls[0]),
};

}  // namespace layout
