#pragma once
// CDlgPlay: the small modeless window (template 130) behind the main dialog's "Play" button,
// where the user picks a recording and the speed to play it at. "Play" hands both to the main
// dialog and closes the window. The main dialog keeps one pointer to the window; the window
// clears it as it closes (Cancel, Esc, the close box, or after "Play") and then deletes itself,
// so the pointer never outlives the window. GUI thread only.
#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class CLastFolder;
class QLineEdit;

class CDlgPlay : public QDialog {
    Q_OBJECT
  public:
    // Starts play-back of the file at `path` at `speedValue` (frames per second times ten).
    using PlayFileFn = std::function<void(int speedValue, const std::string& path)>;

    // The filter of "Open stream...".
    static constexpr const char* kStreamFilter = "VELK Files(*.bds *.txt *.avi *.bin)";

    // `ownerSlot` (may be null) is the owner's pointer to this window; it is cleared as the
    // window closes. `playFile` is called by "Play". "Open stream..." starts in `lastFolder`'s
    // folder and updates it (may be null; the owner keeps it alive while the window is open).
    CDlgPlay(QWidget* owner, CDlgPlay** ownerSlot, PlayFileFn playFile,
             CLastFolder* lastFolder = nullptr);

    void SetSpeedText(const QString& text);
    QString SpeedText() const;
    void SetPlayPath(std::string path) { m_playPath = std::move(path); }
    const std::string& PlayPath() const { return m_playPath; }

    // "Open stream...": asks for an existing recording and remembers it.
    void OnOpenStream();
    // "Play": with a chosen file that still exists, plays it at the speed typed and closes;
    // otherwise says "Please select file!" and stays open.
    void OnPlayStream();

    // Every way of closing ends here: the owner's pointer is cleared before the window goes.
    void done(int result) override;

  private:
    CDlgPlay** m_pOwnerSlot;
    PlayFileFn m_playFile;
    CLastFolder* m_pLastFolder;
    std::string m_playPath;
    QLineEdit* m_speedEdit = nullptr;
};
