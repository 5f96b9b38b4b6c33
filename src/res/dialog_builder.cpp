#include "res/dialog_builder.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCompleter>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <algorithm>
#include <cmath>

#include "controls/group_frame.h"
#include "controls/spin_button.h"

namespace {

constexpr const char* kIdProperty = "dlgControlId";
constexpr const char* kSortedProperty = "dlgSorted";

QWidget* CreateStandardControl(const DlgControl& control, QWidget* parent) {
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.cls) {
        case DlgClass::Static: {
            auto* label = new QLabel(caption, parent);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            return label;
        }
        case DlgClass::Group: {
            auto* group = new CGroupFrame(caption, parent);
            // Group boxes only frame the controls drawn over them; clicks go through.
            group->setAttribute(Qt::WA_TransparentForMouseEvents);
            return group;
        }
        case DlgClass::Button: {
            auto* button = new QPushButton(caption, parent);
            button->setAutoDefault(false);
            button->setDefault((control.style & kDefaultButton) != 0);
            return button;
        }
        case DlgClass::Radio:
            return new QRadioButton(caption, parent);
        case DlgClass::Check:
            return new QCheckBox(caption, parent);
        case DlgClass::Edit: {
            if (control.style & kMultiline) {
                auto* edit = new QPlainTextEdit(parent);
                edit->setLineWrapMode(QPlainTextEdit::NoWrap);
                edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
                edit->setReadOnly((control.style & kReadOnly) != 0);
                return edit;
            }
            auto* edit = new QLineEdit(caption, parent);
            edit->setReadOnly((control.style & kReadOnly) != 0);
            return edit;
        }
        case DlgClass::Combo: {
            auto* combo = new QComboBox(parent);
            combo->setEditable((control.style & kDropDown) != 0);
            // The default completion ignores case, so a typed "k" would become an entry that
            // starts with "K": the module's letters differ by case, so completion must not.
            if (QCompleter* completer = combo->completer()) {
                completer->setCaseSensitivity(Qt::CaseSensitive);
            }
            combo->setInsertPolicy(QComboBox::NoInsert);
            combo->setProperty(kSortedProperty, (control.style & kSorted) != 0);
            return combo;
        }
        case DlgClass::Spin:
            return new CSpinButton(parent);
        case DlgClass::Trackbar:
            return new QSlider(Qt::Horizontal, parent);
        case DlgClass::Progress:
            return new QProgressBar(parent);
        case DlgClass::Custom:
            return new QWidget(parent);
    }
    return new QWidget(parent);
}

}  // namespace

int DialogUnits::X(int du) const {
    return static_cast<int>(std::lround(du * baseX / 4.0));
}

int DialogUnits::Y(int du) const {
    return static_cast<int>(std::lround(du * baseY / 8.0));
}

QRect DialogUnits::Rect(int x, int y, int cx, int cy) const {
    const int left = X(x);
    const int top = Y(y);
    return QRect(left, top, X(x + cx) - left, Y(y + cy) - top);
}

DialogUnits DialogUnitsForFont(const QFont& font) {
    // The average width is taken over the 52 Latin letters, as the dialog manager does.
    const QFontMetricsF metrics(font);
    const double letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits units;
    units.baseX = std::floor((letters / 26.0 + 1.0) / 2.0);
    units.baseY = std::ceil(metrics.height());
    return units;
}

QFont TemplateFont(const DlgTemplate& dlgTemplate) {
    QFont font(QString::fromUtf8(dlgTemplate.fontFamily));
    font.setPointSize(dlgTemplate.fontPointSize);
    return font;
}

QSize DialogClientSize(const DlgTemplate& dlgTemplate) {
    const DialogUnits units = DialogUnitsForFont(TemplateFont(dlgTemplate));
    return {units.X(dlgTemplate.cx), units.Y(dlgTemplate.cy)};
}

double ScaleToFit(QSize size, QSize room) {
    if (size.isEmpty()) {
        return 1.0;
    }
    const double scale = std::min({1.0, static_cast<double>(room.width()) / size.width(),
                                   static_cast<double>(room.height()) / size.height()});
    return std::max(scale, kMinDialogScale);
}

DialogControls BuildDialogControls(QWidget* parent, const DlgTemplate& dlgTemplate,
                                   const CustomControlFactory& customFactory, double scale) {
    DialogControls built;
    QFont font = TemplateFont(dlgTemplate);
    // The units come from the template font itself and shrink with it, rather than from the
    // smaller font, whose rounded metrics would change the proportions.
    built.units = DialogUnitsForFont(font);
    if (scale < 1.0) {
        font.setPointSizeF(font.pointSizeF() * scale);
        built.units.baseX *= scale;
        built.units.baseY *= scale;
    }
    parent->setFont(font);
    parent->setFixedSize(built.units.X(dlgTemplate.cx), built.units.Y(dlgTemplate.cy));

    QButtonGroup* radioGroup = nullptr;
    std::vector<QWidget*> groupBoxes;
    for (const DlgControl& control : dlgTemplate.controls) {
        QWidget* widget = nullptr;
        if (control.cls == DlgClass::Custom && customFactory) {
            widget = customFactory(control, parent);
        }
        if (!widget) {
            widget = CreateStandardControl(control, parent);
        }
        widget->setProperty(kIdProperty, control.id);
        if (control.id >= 0) {
            widget->setObjectName(QStringLiteral("IDC_%1").arg(control.id));
            built.byId[control.id] = widget;
        }
        QRect rect = built.units.Rect(control.x, control.y, control.cx, control.cy);
        if (control.cls == DlgClass::Combo) {
            // The template's height includes the drop-down list; the closed box is one line.
            rect.setHeight(widget->sizeHint().height());
        } else if (control.cls == DlgClass::Radio || control.cls == DlgClass::Check) {
            // The indicator is wider than the classic one: never cut the caption short.
            rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
        }
        widget->setGeometry(rect);
        widget->setEnabled((control.style & kDisabled) == 0);
        widget->setHidden((control.style & kHidden) != 0);

        if (control.cls == DlgClass::Radio) {
            if (!radioGroup || (control.style & kGroupStart)) {
                radioGroup = new QButtonGroup(parent);
                radioGroup->setExclusive(true);
            }
            radioGroup->addButton(static_cast<QRadioButton*>(widget));
        } else if (control.cls != DlgClass::Static) {
            radioGroup = nullptr;
        }
        if (control.cls == DlgClass::Group) {
            groupBoxes.push_back(widget);
        }
    }
    // Frames sit behind the controls they surround.
    for (QWidget* group : groupBoxes) {
        group->lower();
    }
    return built;
}

int DialogControlId(const QWidget* widget) {
    if (!widget) {
        return -1;
    }
    const QVariant id = widget->property(kIdProperty);
    return id.isValid() ? id.toInt() : -1;
}

int ComboAddString(QComboBox* combo, const QString& text) {
    int index = combo->count();
    if (combo->property(kSortedProperty).toBool()) {
        index = 0;
        while (index < combo->count() &&
               QString::compare(combo->itemText(index), text, Qt::CaseInsensitive) <= 0) {
            ++index;
        }
    }
    combo->insertItem(index, text);
    return index;
}
