#include "controls/spin_button.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

CSpinButton::CSpinButton(QWidget* parent)
    : QWidget(parent), m_pUp(new QToolButton(this)), m_pDown(new QToolButton(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QToolButton* button : {m_pUp, m_pDown}) {
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        layout->addWidget(button);
    }
    m_pUp->setArrowType(Qt::UpArrow);
    m_pDown->setArrowType(Qt::DownArrow);
    connect(m_pUp, &QToolButton::clicked, this, [this] { Step(1); });
    connect(m_pDown, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButton::SetRange(int lower, int upper) {
    m_lower = lower;
    m_upper = upper;
}

void CSpinButton::SetPos(int pos) {
    m_pos = std::clamp(pos, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
    if (m_pBuddy) {
        m_pBuddy->setText(QString::number(m_pos));
    }
}

void CSpinButton::SyncFromBuddy() {
    if (!m_pBuddy) {
        return;
    }
    bool ok = false;
    const int typed = m_pBuddy->text().trimmed().toInt(&ok);
    if (ok) {
        m_pos = std::clamp(typed, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
    }
}

void CSpinButton::Step(int delta) {
    // The user may have typed into the buddy since the last step: step from what it shows.
    SyncFromBuddy();
    emit deltaPos(m_pos, delta);
    const int next = m_pos + delta;
    if (next < std::min(m_lower, m_upper) || next > std::max(m_lower, m_upper)) {
        return;
    }
    SetPos(next);
}
