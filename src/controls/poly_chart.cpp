#include "controls/poly_chart.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <utility>
#include <vector>

#include "controls/image_utils.h"

CPolyChart::CPolyChart(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    const char* texts[] = {"100", "75", "50", "25", "0"};
    for (size_t i = 0; i < m_labels.size(); ++i) {
        m_labels[i] = std::make_unique<CGaugeLabel>();
        m_labels[i]->m_text = QString::fromLatin1(texts[i]);
    }
}

CPolyChart::~CPolyChart() = default;

void CPolyChart::SetChartData(std::unique_ptr<CChartData> data) {
    std::shared_ptr<const CChartData> replaced;
    std::lock_guard lock(m_dataLock);
    // The old record is freed after the lock is released, or later by a paint still using it.
    replaced = std::exchange(m_pData, std::shared_ptr<const CChartData>(std::move(data)));
}

void CPolyChart::SetChartUnit(int unit) {
    std::lock_guard lock(m_dataLock);
    m_unit = unit;
}

int CPolyChart::GetChartUnit() const {
    std::lock_guard lock(m_dataLock);
    return m_unit;
}

void CPolyChart::SetChartTitle(int kind) {
    std::lock_guard lock(m_dataLock);
    if (kind == 1) {
        m_title = QStringLiteral("Temperature Distribution");
    } else if (kind == 2) {
        m_title = QStringLiteral("Voltage Distribution");
        m_unit = kChartVolt;
    }
}

QString CPolyChart::GetChartTitle() const {
    std::lock_guard lock(m_dataLock);
    return m_title;
}

void CPolyChart::SetProfileMode(int mode) {
    std::lock_guard lock(m_dataLock);
    m_mode = mode;
}

int CPolyChart::GetProfileMode() const {
    std::lock_guard lock(m_dataLock);
    return m_mode;
}

void CPolyChart::SetBackground(const QImage& image) {
    m_background = image;
    m_hasBackground = image.isNull() ? 0 : 1;
    m_isFrameStale = true;
}

void CPolyChart::ShowDistributionLogo(const std::string& appDir) {
    const std::vector<uint8_t> canvas =
        LoadFittedLogo(appDir, "DistributionLogo.jpg", width(), height());
    if (!canvas.empty()) {
        SetBackground(RgbToBitmap(canvas.data(), width(), height()));
    }
}

const CPolyChart::LaidOutText& CPolyChart::LayOut(QPainter& painter, const QString& text) {
    if (painter.font() != m_textCacheFont || m_textCache.size() >= kMaxCachedTexts) {
        m_textCache.clear();
        m_textCacheFont = painter.font();
    }
    auto found = m_textCache.find(text);
    if (found == m_textCache.end()) {
        QStaticText laidOut(text);
        laidOut.setTextFormat(Qt::PlainText);
        found = m_textCache.insert(
            text, LaidOutText{painter.fontMetrics().horizontalAdvance(text), laidOut});
    }
    return found.value();
}

void CPolyChart::DrawLabels(QPainter& painter, const Plot& plot) {
    // Right-aligned five pixels left of the plot, centred on their grid lines.
    const QFontMetrics metrics = painter.fontMetrics();
    painter.setPen(QColor(kTextColor));
    for (auto& label : m_labels) {
        const LaidOutText& text = LayOut(painter, label->m_text);
        label->m_x = plot.left - text.width - 5;
        label->m_y = label->m_lineY - metrics.height() / 2;
        painter.drawStaticText(label->m_x, label->m_y, text.text);
    }
}

void CPolyChart::paintEvent(QPaintEvent*) {
    std::shared_ptr<const CChartData> data;
    QString title;
    int unit = kChartCelsius;
    int mode = 0;
    {
        std::lock_guard lock(m_dataLock);
        data = m_pData;
        title = m_title;
        unit = m_unit;
        mode = m_mode;
    }

    // What stays from frame to frame is kept in m_frame, at the screen's pixel density so that
    // text and lines stay sharp on a scaled display; each paint copies it and draws the frame's
    // bars and labels over it.
    const QRect client = rect();
    const qreal ratio = devicePixelRatioF();
    const QSize size = (QSizeF(client.size()) * ratio).toSize();
    if (m_frame.size() != size || m_frame.devicePixelRatio() != ratio || m_frameFont != font() ||
        m_frameTitle != title || m_isFrameStale) {
        DrawFrame(size, ratio, title);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_frame);
    painter.setClipRect(client);
    painter.setPen(QColor(kTextColor));
    if (data && data->pointCount > 0) {
        if (mode == 1) {
            DrawProfile(painter, m_plot, *data, unit);
        } else {
            DrawHistogram(painter, m_plot, *data, unit);
        }
    } else {
        DrawLabels(painter, m_plot);
    }
}

void CPolyChart::DrawFrame(QSize size, qreal ratio, const QString& title) {
    m_frame = QImage(size, QImage::Format_RGB32);
    m_frame.setDevicePixelRatio(ratio);
    // Text in the kept part takes the size it takes on the control, where the rest is drawn.
    m_frame.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    m_frame.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    m_frameFont = font();
    m_frameTitle = title;
    m_isFrameStale = false;

    const QRect client = rect();
    QPainter painter(&m_frame);
    painter.setFont(font());
    m_frame.fill(QColor(kBackgroundColor));
    if (m_hasBackground) {
        painter.drawImage(0, 0, m_background);
    }
    painter.setClipRect(client);

    const QFontMetrics metrics = painter.fontMetrics();
    const int textHeight = metrics.height();
    painter.setPen(QColor(kTextColor));
    painter.drawStaticText(kMargin, kMargin, LayOut(painter, title).text);

    m_plot = Plot{
        client.left() + kMargin + LayOut(painter, QStringLiteral("000")).width + 5,
        client.top() + kMargin + textHeight + 5,
        client.right() + 1 - kMargin - 10,
        client.bottom() + 1 - kMargin - textHeight,
    };
    const Plot& plot = m_plot;

    painter.setPen(QPen(QColor(kAxisColor), 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(plot.left, plot.bottom, plot.right, plot.bottom);
    painter.drawLine(plot.left, plot.top, plot.left, plot.bottom);

    painter.setPen(QPen(QColor(0x808080), 1, Qt::DotLine));
    const double step = (plot.bottom - plot.top - 10) / 4.0;
    for (int k = 0; k < 4; ++k) {
        const int y = static_cast<int>(plot.top + 10 + step * k);
        painter.drawLine(plot.left, y, plot.right, y);
        m_labels[static_cast<size_t>(k)]->m_lineY = y;
    }
    m_labels[4]->m_lineY = plot.bottom;
}

void CPolyChart::SetCountLabels(int64_t largestSum) {
    const std::array<int, 5> values = CountLabels(largestSum);
    for (size_t i = 0; i < m_labels.size(); ++i) {
        m_labels[i]->m_text = QString::number(values[i]);
    }
}

void CPolyChart::SetValueLabels(const CChartData& data, int unit) {
    const std::array<int, 5> values = ValueLabels(data.maximum, data.minimum, unit);
    for (size_t i = 0; i < m_labels.size(); ++i) {
        m_labels[i]->m_text = QString::number(values[i]);
    }
}

void CPolyChart::DrawHistogram(QPainter& painter, const Plot& plot, const CChartData& data,
                               int unit) {
    const ChartGrouping grouping = ComputeGrouping(data, plot.right - plot.left);
    const std::vector<ChartBar> bars = GroupBars(data, grouping);
    int64_t largest = 0;
    for (const ChartBar& bar : bars) {
        largest = std::max(largest, bar.sum);
    }
    SetCountLabels(largest);
    DrawBars(painter, plot, grouping, bars, unit, false);
}

void CPolyChart::DrawProfile(QPainter& painter, const Plot& plot, const CChartData& data,
                             int unit) {
    SetValueLabels(data, unit);
    const ChartGrouping grouping = ComputeGrouping(data, plot.right - plot.left);
    DrawBars(painter, plot, grouping, GroupBars(data, grouping), unit, true);
}

void CPolyChart::DrawBars(QPainter& painter, const Plot& plot, const ChartGrouping& grouping,
                          const std::vector<ChartBar>& bars, int unit, bool profile) {
    const QFontMetrics metrics = painter.fontMetrics();
    DrawLabels(painter, plot);
    const int topValue = m_labels[0]->m_text.toInt();
    const int bottomValue = m_labels[4]->m_text.toInt();

    const int topLine = m_labels[0]->m_lineY;
    const int axisLine = m_labels[4]->m_lineY;
    const int labelY = m_labels[4]->m_y + metrics.height() / 2 + 1;
    int lastLabelRight = plot.left;
    const std::vector<ChartBarSpan> spans =
        LayoutBars(bars.size(), grouping.barWidth, plot.left, plot.right);
    for (size_t i = 0; i < spans.size(); ++i) {
        const ChartBar& bar = bars[i];
        const ChartBarSpan& span = spans[i];

        if (!profile || bar.key % 5 == 0) {
            const LaidOutText& label =
                LayOut(painter, profile ? QString::number(bar.key)
                                        : QString::fromStdString(HistogramKeyLabel(bar.key, unit)));
            if (HorizontalLabelFits(span.x, label.width, plot.left, plot.right, lastLabelRight)) {
                painter.setPen(QColor(kTextColor));
                painter.drawStaticText(span.x, labelY, label.text);
                lastLabelRight = span.x + label.width;
            }
        }

        if (bar.sum <= 0) {
            continue;
        }
        const int top = profile ? ProfileBarTop(RawToUnit(static_cast<double>(bar.sum), unit),
                                                topValue, bottomValue, topLine, axisLine)
                                : HistogramBarTop(bar.sum, topValue, topLine, axisLine);
        painter.fillRect(QRect(QPoint(span.x, top), QPoint(span.x1 - 1, axisLine - 1)),
                         QColor(0, 0, 255));
        painter.setPen(Qt::black);
        painter.drawLine(span.x, axisLine, span.x, top);
        painter.drawLine(span.x, top, span.x1, top);
        painter.drawLine(span.x1, top, span.x1, axisLine);
    }
}
