#pragma once
// CAboutDlg: the about box (template 100), shown modally from the window's context menu.
#include <QDialog>
#include <QIcon>

class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    CAboutDlg(QWidget* parent, const QIcon& icon);
};
