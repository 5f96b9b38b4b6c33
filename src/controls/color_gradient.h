#pragma once
// CColorGradient: the palette bar (1067). Placeholder until the palette bar lands.
#include <QWidget>

class CColorGradient : public QWidget {
    Q_OBJECT
public:
    explicit CColorGradient(QWidget* parent = nullptr) : QWidget(parent) {}
    void SetPalette(int number) { m_palette = number; }
    int GetPalette() const { return m_palette; }

private:
    int m_palette = 4;
};
