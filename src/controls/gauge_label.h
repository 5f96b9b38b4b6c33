#pragma once
// CGaugeLabel: one label of the distribution chart's vertical axis: its text, the grid line it
// belongs to and where the chart last drew it. Owned and used by the chart on the GUI thread.
#include <QString>

class CGaugeLabel {
  public:
    virtual ~CGaugeLabel() = default;

    QString m_text;
    int m_x = 0;  // where the text was last drawn
    int m_y = 0;
    int m_lineY = 0;  // y of the grid line the label stands at
    int m_visible = 1;
};
