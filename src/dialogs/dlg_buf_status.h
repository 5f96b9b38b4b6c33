#pragma once
// CDlgBufStatus: the modeless "Buffer Status" window (template 131) that shows how far the less
// filled of the frame stack and the electrical offset stack has come while the stacks fill
// after a data command. The main dialog keeps one pointer to it, guarded by a lock of its own;
// the dialog clears that pointer under the lock when the user closes it and then deletes
// itself, and an update holds the lock while it uses the dialog, so the dialog cannot vanish
// in the middle of an update. ShowBufferStatus runs on the GUI thread; UpdateBufferStatus may
// run on any thread. The viewer calls both on the GUI thread only (frames reach it through the
// presentation mailbox); the any-thread update and the owner's lock stay because they cost one
// uncontended lock per frame and keep the dialog safe for a producer on another thread, a
// contract its tests hold it to.
#include <QDialog>
#include <QString>
#include <mutex>

class CFillBar;
class QLabel;

// The sizes of the frame and offset stacks and how many entries each holds. A stack is full
// once it holds more entries than its size; a size of 0 or less counts as full.
struct StackFill {
    int frameSize = 1;
    int offsetSize = 1;
    int frameCount = 0;
    int offsetCount = 0;
};

// What the dialog shows for a fill: the percentage and name of the stack further from full (the
// frame stack on a tie), and whether both stacks are full.
struct BufferStatusView {
    int percent = 0;
    QString stackName;
    bool bothFull = false;
};
BufferStatusView ComputeBufferStatus(const StackFill& fill);

class CDlgBufStatus : public QDialog {
    Q_OBJECT
  public:
    // The dialog tells its owner it is gone by clearing ownerSlot under ownerLock.
    CDlgBufStatus(QWidget* owner, CDlgBufStatus** ownerSlot, std::mutex* ownerLock);

    // Sets the bar and the two texts: "Buffer filled to <percent> %" and "Filling <stackName>".
    void SetFill(int percent, const QString& stackName);

    CFillBar* FillBar() const { return m_fillBar; }
    QString PercentText() const;
    QString StackNameText() const;

    // After a data command: unless no stack is configured (both sizes 1 or less), creates the
    // dialog if there is none (stored in dlg), starts it at 0 % on the frame stack, and shows it
    // while a stack is still filling or hides it when both are full.
    static void ShowBufferStatus(QWidget* owner, CDlgBufStatus*& dlg, std::mutex& dlgLock,
                                 const StackFill& fill);

    // After every frame: if there is a dialog, hides it once both stacks are full, else shows
    // the percentage of the stack further from full.
    static void UpdateBufferStatus(CDlgBufStatus*& dlg, std::mutex& dlgLock, const StackFill& fill);

    // Esc and the close box: clears the owner's pointer, then closes and deletes the dialog.
    void reject() override;

  private:
    void Apply(const StackFill& fill);

    CDlgBufStatus** m_pOwnerSlot;
    std::mutex* m_pOwnerLock;
    QLabel* m_percentText = nullptr;
    QLabel* m_stackNameText = nullptr;
    CFillBar* m_fillBar = nullptr;
};
