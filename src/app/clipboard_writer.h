#pragma once
// CClipboardWriter: puts the last frame's data text or display image on the desktop clipboard,
// for pasting into a text editor, a spreadsheet or a picture program. Made for one operation;
// GUI thread only (the clipboard is served from its event loop). Failures are silent: a
// clipboard that cannot be had stays as it was, and nothing is reported.
#include <cstdint>
#include <string>

class CClipboardWriter {
  public:
    // The text exactly as given (UTF-8), tabs and line ends included.
    void CopyText(const std::string& text);
    // An image of width x height pixels, 3 bytes red, green, blue each, top row first; it is
    // offered as it is shown, not mirrored. Nothing happens for a null image.
    void CopyImage(int width, int height, const uint8_t* rgb);
};
