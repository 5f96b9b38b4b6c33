#pragma once
// CColorStatic: a plain coloured rectangle; the red and blue frames around "Rec" and "Play".
#include <QPainter>
#include <QWidget>
#include <cstdint>

class CColorStatic : public QWidget {
    Q_OBJECT
public:
    explicit CColorStatic(QWidget* parent = nullptr) : QWidget(parent) {}
    // colour = red + green x 256 + blue x 65536
    void SetColor(uint32_t color) {
        m_color = color;
        update();
    }
    uint32_t GetColor() const { return m_color; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(m_color & 0xFF, (m_color >> 8) & 0xFF, (m_color >> 16) & 0xFF));
    }

private:
    uint32_t m_color = 0;
};
