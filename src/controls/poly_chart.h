#pragma once
// CPolyChart: the distribution chart (control 1066): a histogram of the frame's raw values, or
// the profile of its hottest row, with title, axes, dotted grid and axis labels, over the
// distribution logo if there is one. The frame presentation hands it a new record per frame;
// painting runs on the GUI thread and works on the record it took under the lock, so a record is
// never freed while a paint reads it. The viewer calls the setters on the GUI thread only (frames
// reach it through the presentation mailbox); the lock stays because it costs one uncontended
// lock per frame and keeps the chart safe for a producer on another thread, a contract its tests
// hold it to.
#include <QFont>
#include <QHash>
#include <QImage>
#include <QStaticText>
#include <QString>
#include <QWidget>
#include <array>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controls/gauge_label.h"
#include "processing/chart_data.h"

class QPainter;

class CPolyChart : public QWidget {
    Q_OBJECT
  public:
    explicit CPolyChart(QWidget* parent = nullptr);
    ~CPolyChart() override;

    // Takes ownership of the record and drops the previous one; does not repaint (the caller
    // schedules that on the GUI thread). Any thread.
    void SetChartData(std::unique_ptr<CChartData> data);

    // 1 kelvin, 2 degree Celsius, 3 degree Fahrenheit. Any thread.
    void SetChartUnit(int unit);
    int GetChartUnit() const;

    // 1: temperature title; 2: voltage title, and the labels switch to volts. Any thread.
    void SetChartTitle(int kind);
    QString GetChartTitle() const;

    // 0 histogram, 1 row profile. Any thread.
    void SetProfileMode(int mode);
    int GetProfileMode() const;

    // Draws every later frame over image (GUI thread).
    void SetBackground(const QImage& image);

    // Uses "DistributionLogo.jpg" from appDir, fitted into the chart and centred on white, as
    // the background. Leaves the white background if the file is missing or unreadable. GUI
    // thread, once the chart has its size.
    void ShowDistributionLogo(const std::string& appDir);

    // The vertical-axis labels as last drawn, top first (GUI thread).
    const CGaugeLabel& Label(int index) const { return *m_labels[static_cast<size_t>(index)]; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    struct Plot {
        int left, top, right, bottom;
    };
    // A text shaped once: its advance width and its glyphs ready to draw.
    struct LaidOutText {
        int width;
        QStaticText text;
    };
    // The labels are the same few numbers frame after frame, and shaping them anew cost more
    // than all the rest of the chart: they are laid out once, in the painter's font, and kept.
    const LaidOutText& LayOut(QPainter& painter, const QString& text);
    // Paints what stays from frame to frame into m_frame: white, the background, the title, the
    // axes and the dotted grid; sets m_plot and the labels' grid lines.
    void DrawFrame(QSize size, qreal ratio, const QString& title);
    void DrawLabels(QPainter& painter, const Plot& plot);
    void SetCountLabels(int64_t largestSum);
    void SetValueLabels(const CChartData& data, int unit);
    void DrawHistogram(QPainter& painter, const Plot& plot, const CChartData& data, int unit);
    void DrawProfile(QPainter& painter, const Plot& plot, const CChartData& data, int unit);
    // The second pass of both views: horizontal labels and bars under the vertical labels set.
    void DrawBars(QPainter& painter, const Plot& plot, const ChartGrouping& grouping,
                  const std::vector<ChartBar>& bars, int unit, bool profile);

    static constexpr int kMargin = 2;
    static constexpr QRgb kTextColor = 0x0000FF;        // blue
    static constexpr QRgb kBackgroundColor = 0xFFFFFF;  // white
    static constexpr QRgb kAxisColor = 0x009600;        // green 150

    mutable std::mutex m_dataLock;  // guards m_pData, m_title, m_unit and m_mode
    std::shared_ptr<const CChartData> m_pData;
    QString m_title = QStringLiteral("Temperatures Distribution");
    int m_unit = kChartCelsius;
    int m_mode = 0;

    // Painting state, GUI thread only. m_frame is redrawn when its size, density, font or
    // title changes, or a new background makes it stale.
    QImage m_frame;
    QFont m_frameFont;
    QString m_frameTitle;
    bool m_isFrameStale = true;
    Plot m_plot{0, 0, 0, 0};

    static constexpr qsizetype kMaxCachedTexts = 512;
    QHash<QString, LaidOutText> m_textCache;  // laid out in m_textCacheFont; cleared when full
    QFont m_textCacheFont;

    QImage m_background;
    int m_hasBackground = 0;
    std::array<std::unique_ptr<CGaugeLabel>, 5> m_labels;
};
