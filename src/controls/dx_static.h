#pragma once
// CDxStatic: the thermal image control (1070). Placeholder: grey until the display lands.
#include <QWidget>
#include <string>

class CDxStatic : public QWidget {
    Q_OBJECT
public:
    explicit CDxStatic(QWidget* parent = nullptr);
    void InitDisplay(int width, int height);
    void ShowMainLogo(const std::string& appDir);

protected:
    void paintEvent(QPaintEvent* event) override;
};
