#include "dialogs/dlg_play.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "dialogs/last_folder.h"
#include "res/aux_dialog_templates.h"
#include "res/dialog_builder.h"

CDlgPlay::CDlgPlay(QWidget* owner, CDlgPlay** ownerSlot, PlayFileFn playFile,
                   CLastFolder* lastFolder)
    : QDialog(owner),
      m_pOwnerSlot(ownerSlot),
      m_playFile(std::move(playFile)),
      m_pLastFolder(lastFolder) {
    const DlgTemplate& dlgTemplate = Template130();
    setWindowTitle(QString::fromUtf8(dlgTemplate.caption));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    const DialogControls controls = BuildDialogControls(this, dlgTemplate, nullptr);
    m_speedEdit = static_cast<QLineEdit*>(controls.byId.at(IDC_PLAY_SPEED));
    connect(static_cast<QPushButton*>(controls.byId.at(IDC_PLAY_OPEN_STREAM)),
            &QPushButton::clicked, this, &CDlgPlay::OnOpenStream);
    connect(static_cast<QPushButton*>(controls.byId.at(IDC_PLAY_STREAM)), &QPushButton::clicked,
            this, &CDlgPlay::OnPlayStream);
}

void CDlgPlay::SetSpeedText(const QString& text) {
    m_speedEdit->setText(text);
}

QString CDlgPlay::SpeedText() const {
    return m_speedEdit->text();
}

void CDlgPlay::OnOpenStream() {
    const QString start = m_pLastFolder != nullptr ? m_pLastFolder->Folder() : QString();
    const QString path =
        QFileDialog::getOpenFileName(this, QString(), start, QString::fromLatin1(kStreamFilter));
    if (m_pLastFolder != nullptr) {
        m_pLastFolder->RememberFolderOf(path);
    }
    if (!path.isEmpty()) {
        m_playPath = QFile::encodeName(path).toStdString();
    }
}

void CDlgPlay::OnPlayStream() {
    // A decimal number with an optional sign; text that does not start with one reads as 0,
    // which plays at the default speed.
    const std::string text = m_speedEdit->text().toStdString();
    const long value = std::strtol(text.c_str(), nullptr, 10);
    const int speedValue = static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
    const QString path = QFile::decodeName(QByteArray::fromStdString(m_playPath));
    if (m_playPath.empty() || !QFileInfo(path).isFile()) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                        QStringLiteral("Please select file!"), QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (m_playFile) {
        m_playFile(speedValue, m_playPath);
    }
    accept();
}

void CDlgPlay::done(int result) {
    if (m_pOwnerSlot != nullptr && *m_pOwnerSlot == this) {
        *m_pOwnerSlot = nullptr;
    }
    m_pOwnerSlot = nullptr;
    QDialog::done(result);
}
