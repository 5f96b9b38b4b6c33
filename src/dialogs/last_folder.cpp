#include "dialogs/last_folder.h"

#include <QFileInfo>

void CLastFolder::RememberFolderOf(const QString& chosenPath) {
    if (!chosenPath.isEmpty()) {
        m_folder = QFileInfo(chosenPath).absolutePath();
    }
}
