#pragma once
// CPolyChart: the distribution chart (1066). Placeholder until the chart lands.
#include <QWidget>
#include <string>

class CPolyChart : public QWidget {
    Q_OBJECT
public:
    explicit CPolyChart(QWidget* parent = nullptr) : QWidget(parent) {}
    void SetChartUnit(int unit) { m_unit = unit; }
    int GetChartUnit() const { return m_unit; }
    void ShowDistributionLogo(const std::string&) {}

private:
    int m_unit = 2;
};
