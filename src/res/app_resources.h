#pragma once
// The Qt resources compiled into the GUI library (the window icon). A static library's resource
// object is only linked in when something calls its initialiser, so every user of ":/res/..."
// calls InitAppResources first. GUI thread; repeated calls do nothing.
void InitAppResources();
