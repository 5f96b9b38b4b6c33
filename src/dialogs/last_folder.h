#pragma once
// CLastFolder: the folder the last file dialog of this run was left in, where the next one
// starts ("Save to..." and the play dialog's "Open stream..." share it: a user records, then
// plays what was recorded). Held in memory only; a new run starts in the dialogs' default.
// Owned by the main window; GUI thread only.
#include <QString>

class CLastFolder {
  public:
    // Where the next file dialog starts; empty before any file was chosen.
    const QString& Folder() const { return m_folder; }
    // Remembers the folder of a file the user chose; an empty path (a cancelled dialog) keeps
    // the folder as it was.
    void RememberFolderOf(const QString& chosenPath);

  private:
    QString m_folder;
};
