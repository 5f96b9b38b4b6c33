#include "dialogs/dlg_buf_status.h"

#include <QLabel>
#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <utility>

#include "controls/fill_bar.h"
#include "res/aux_dialog_templates.h"
#include "res/dialog_builder.h"

namespace {

int StackPercent(int count, int size) {
    if (size <= 0) {
        return 100;
    }
    const float share = static_cast<float>(static_cast<double>(count) / size * 100.0);
    return std::min(static_cast<int>(share + 0.5f), 100);
}

}  // namespace

BufferStatusView ComputeBufferStatus(const StackFill& fill) {
    BufferStatusView view;
    const bool frameFull = fill.frameSize <= 0 || fill.frameCount > fill.frameSize;
    const bool offsetFull = fill.offsetSize <= 0 || fill.offsetCount > fill.offsetSize;
    view.bothFull = frameFull && offsetFull;
    const int framePercent = StackPercent(fill.frameCount, fill.frameSize);
    const int offsetPercent = StackPercent(fill.offsetCount, fill.offsetSize);
    if (framePercent <= offsetPercent) {
        view.percent = framePercent;
        view.stackName = QStringLiteral("Frame Stack");
    } else {
        view.percent = offsetPercent;
        view.stackName = QStringLiteral("el. Offset Stack");
    }
    return view;
}

CDlgBufStatus::CDlgBufStatus(QWidget* owner, CDlgBufStatus** ownerSlot, std::mutex* ownerLock)
    : QDialog(owner), m_pOwnerSlot(ownerSlot), m_pOwnerLock(ownerLock) {
    const DlgTemplate& dlgTemplate = Template131();
    setWindowTitle(QString::fromUtf8(dlgTemplate.caption));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose);
    const DialogControls controls =
        BuildDialogControls(this, dlgTemplate, [](const DlgControl& control, QWidget* parent) {
            return control.id == IDC_BUF_FILL_BAR ? new CFillBar(parent) : nullptr;
        });
    m_percentText = static_cast<QLabel*>(controls.byId.at(IDC_BUF_PERCENT));
    m_stackNameText = static_cast<QLabel*>(controls.byId.at(IDC_BUF_STACK_NAME));
    m_fillBar = static_cast<CFillBar*>(controls.byId.at(IDC_BUF_FILL_BAR));
}

void CDlgBufStatus::SetFill(int percent, const QString& stackName) {
    m_fillBar->SetPercent(percent);
    m_percentText->setText(QStringLiteral("Buffer filled to %1 %").arg(percent));
    m_stackNameText->setText(QStringLiteral("Filling %1").arg(stackName));
}

QString CDlgBufStatus::PercentText() const {
    return m_percentText->text();
}

QString CDlgBufStatus::StackNameText() const {
    return m_stackNameText->text();
}

void CDlgBufStatus::ShowBufferStatus(QWidget* owner, CDlgBufStatus*& dlg, std::mutex& dlgLock,
                                     const StackFill& fill) {
    if (fill.frameSize <= 1 && fill.offsetSize <= 1) {
        return;
    }
    if (dlg == nullptr) {
        auto* created = new CDlgBufStatus(owner, &dlg, &dlgLock);
        {
            std::lock_guard lock(dlgLock);
            dlg = created;
        }
        // The owner's client size taken as a screen position: the corner does not follow the
        // main window when it is moved.
        if (owner != nullptr) {
            created->move(owner->width() - created->width(), owner->height() - created->height());
        }
        created->raise();
    }
    dlg->SetFill(0, QStringLiteral("Frame Stack"));
    const bool frameFull = fill.frameSize <= 0 || fill.frameCount >= fill.frameSize;
    const bool offsetFull = fill.offsetSize <= 0 || fill.offsetCount >= fill.offsetSize;
    if (frameFull && offsetFull) {
        dlg->hide();
    } else {
        dlg->show();
        dlg->activateWindow();
    }
}

void CDlgBufStatus::UpdateBufferStatus(CDlgBufStatus*& dlg, std::mutex& dlgLock,
                                       const StackFill& fill) {
    // Held for the whole update: closing the dialog clears dlg under this lock first.
    std::lock_guard lock(dlgLock);
    if (dlg == nullptr) {
        return;
    }
    if (QThread::currentThread() == dlg->thread()) {
        dlg->Apply(fill);
    } else {
        // Window work belongs to the GUI thread. The posted call is dropped if the dialog is
        // deleted before it runs; posting never waits.
        CDlgBufStatus* target = dlg;
        QMetaObject::invokeMethod(
            target, [target, fill] { target->Apply(fill); }, Qt::QueuedConnection);
    }
}

void CDlgBufStatus::Apply(const StackFill& fill) {
    const BufferStatusView view = ComputeBufferStatus(fill);
    if (view.bothFull) {
        hide();
        return;
    }
    SetFill(view.percent, view.stackName);
}

void CDlgBufStatus::reject() {
    if (m_pOwnerSlot != nullptr && m_pOwnerLock != nullptr) {
        std::lock_guard lock(*m_pOwnerLock);
        if (*m_pOwnerSlot == this) {
            *m_pOwnerSlot = nullptr;
        }
    }
    QDialog::reject();
}
