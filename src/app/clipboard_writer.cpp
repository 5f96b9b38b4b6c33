#include "app/clipboard_writer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>

void CClipboardWriter::CopyText(const std::string& text) {
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        clipboard->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
}

void CClipboardWriter::CopyImage(int width, int height, const uint8_t* rgb) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr || rgb == nullptr || width <= 0 || height <= 0) {
        return;
    }
    // The clipboard keeps its own copy; the caller's buffer may change after this returns.
    const QImage view(rgb, width, height, width * 3, QImage::Format_RGB888);
    clipboard->setImage(view.copy());
}
