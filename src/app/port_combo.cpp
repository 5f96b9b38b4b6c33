#include "app/port_combo.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QStyle>

#include "res/dialog_builder.h"

namespace {

constexpr std::string_view kDevPrefix = "/dev/";

QString PathOf(const QComboBox* combo, int index) {
    // Entries put in by hand without a path stand for themselves.
    const QVariant data = combo->itemData(index);
    return data.isValid() ? data.toString() : combo->itemText(index);
}

}  // namespace

QString PortDisplayName(const std::string& path) {
    const std::string_view view(path);
    if (view.size() > kDevPrefix.size() && view.substr(0, kDevPrefix.size()) == kDevPrefix) {
        return QString::fromUtf8(view.substr(kDevPrefix.size()));
    }
    return QString::fromStdString(path);
}

void FillPortCombo(QComboBox* combo, const std::vector<std::string>& paths) {
    combo->clear();
    for (const std::string& path : paths) {
        const int index = ComboAddString(combo, PortDisplayName(path));
        const QString fullPath = QString::fromStdString(path);
        combo->setItemData(index, fullPath, Qt::UserRole);
        combo->setItemData(index, fullPath, Qt::ToolTipRole);
    }
    // The list opens at least as wide as the box; room for a scroll bar besides the widest name.
    QAbstractItemView* list = combo->view();
    const int widest = list->sizeHintForColumn(0);
    list->setMinimumWidth(
        widest > 0 ? widest + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) : 0);
    combo->setCurrentIndex(-1);
}

int FindPortIndex(const QComboBox* combo, const std::string& path) {
    const QString wanted = QString::fromStdString(path);
    for (int index = 0; index < combo->count(); ++index) {
        if (PathOf(combo, index) == wanted) {
            return index;
        }
    }
    return -1;
}

std::string SelectedPortPath(const QComboBox* combo) {
    const int index = combo->currentIndex();
    const QString text = combo->currentText();
    if (index < 0 || (combo->isEditable() && text != combo->itemText(index))) {
        return text.trimmed().toStdString();
    }
    return PathOf(combo, index).toStdString();
}
