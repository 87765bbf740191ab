#pragma once

#include "trend/TrendChart.h"

#include <QWidget>

#include <optional>
#include <vector>

class QPainter;

namespace trend {

/// The chart surface pt: paints the lines of the last redraw, scaled from twips to pixels and
/// clipped at its edges, with the ruler line on top.
class TrendSurface : public QWidget {
  public:
    explicit TrendSurface(QWidget* parent = nullptr);

    /// Replaces what the chart shows; the ruler line stays.
    void setLines(std::vector<ChartLine> lines);
    [[nodiscard]] const std::vector<ChartLine>& lines() const { return m_lines; }

    /// The ruler line, drawn over the curves; redraws of the chart leave it alone.
    void setRuler(std::optional<ChartLine> ruler);
    [[nodiscard]] const std::optional<ChartLine>& ruler() const { return m_ruler; }

    /// Paints the chart onto any device of the surface's size (the window, an image, a page).
    void paintChart(QPainter& painter) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<ChartLine> m_lines;
    std::optional<ChartLine> m_ruler;
};

} // namespace trend
