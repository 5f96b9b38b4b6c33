#pragma once
// The port list box of the main dialog (1048). A port shows as its device name without the
// "/dev/" prefix ("ttyUSB0"), so that adapters can be told apart in the template's narrow box;
// the full path is the item's data (what a session opens) and its tooltip. The closed box keeps
// its size and the drop-down list grows to the longest entry. GUI thread.
#include <QString>
#include <string>
#include <vector>

class QComboBox;

// "ttyUSB0" for "/dev/ttyUSB0", "pts/3" for "/dev/pts/3"; any other path unchanged.
QString PortDisplayName(const std::string& path);

// Replaces the entries with `paths`, sorted by their shown names, and selects none.
void FillPortCombo(QComboBox* combo, const std::vector<std::string>& paths);

// The index of the entry for `path`, or -1.
int FindPortIndex(const QComboBox* combo, const std::string& path);

// The path to open: the selected entry's full path, or the text typed into an editable box when
// it differs from the entry's shown name. Empty when nothing is selected or typed.
std::string SelectedPortPath(const QComboBox* combo);
