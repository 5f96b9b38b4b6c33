#pragma once
// Closing the viewer for SIGINT or SIGTERM while it may be inside a dialog of its own ("Save
// to...", a message box, a menu). Such a dialog runs an event loop of its own, and closing the
// main window under it leaves the program waiting for the user. GUI thread.
class QWidget;

// Closes the open menu and every modal dialog above `window`, top first, as Escape would, and
// closes `window` (its close sequence) once none is left; checks again every 20 ms until then,
// since each dialog's loop ends only when control returns to it.
void CloseDialogsThenWindow(QWidget* window);
