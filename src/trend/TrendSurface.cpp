#include "trend/TrendSurface.h"

#include "common/Twips.h"

#include <QPainter>
#include <QPen>

namespace trend {

namespace {

Qt::PenStyle penStyle(LineStyle style) {
    switch (style) {
    case LineStyle::Dash:
        return Qt::DashLine;
    case LineStyle::Dot:
        return Qt::DotLine;
    case LineStyle::Solid:
        break;
    }
    return Qt::SolidLine;
}

QPen penFor(const ChartLine& line) {
    // Widths are in pixels whatever the twips scale: a cosmetic pen.
    QPen pen(QColor::fromRgb(line.colour), line.width, penStyle(line.style), Qt::FlatCap);
    pen.setCosmetic(true);
    return pen;
}

} // namespace

TrendSurface::TrendSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TrendSurface::setLines(std::vector<ChartLine> lines) {
    m_lines = std::move(lines);
    update();
}

void TrendSurface::setRuler(std::optional<ChartLine> ruler) {
    m_ruler = ruler;
    update();
}

void TrendSurface::paintChart(QPainter& painter) const {
    painter.fillRect(QRect(QPoint(0, 0), size()), QColor::fromRgb(kChartBackground));
    painter.save();
    painter.setClipRect(QRect(QPoint(0, 0), size()));
    const double scale = 1.0 / common::kTwipsPerPixel;
    painter.scale(scale, scale);
    const ChartLine* previous = nullptr;
    for (const ChartLine& line : m_lines) {
        if (previous == nullptr || previous->colour != line.colour ||
            previous->width != line.width || previous->style != line.style) {
            painter.setPen(penFor(line));
            previous = &line;
        }
        painter.drawLine(line.line);
    }
    if (m_ruler) {
        painter.setPen(penFor(*m_ruler));
        painter.drawLine(m_ruler->line);
    }
    painter.restore();
}

void TrendSurface::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    paintChart(painter);
}

} // namespace trend
