#include "historyreport/reportchart.h"

#include <algorithm>
#include <cmath>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

double NiceCeiling(double v)
{
    if (!(v > 1))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(v)));
    for (double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= v * (1 - 1e-12))
            return step * power;
    }
    return 10 * power;
}

TChartDrawing LayoutChart(const TDocChart &chart, double width, double height, const QLocale &locale)
{
    TChartDrawing d;
    d.Width = width;
    d.Height = height;
    d.FontSize = 8;
    const double left = 40, right = 6, top = 16, bottom = 14;
    const double plotW = std::max(1.0, width - left - right), plotH = std::max(1.0, height - top - bottom);
    const double baseY = top + plotH;
    const size_t days = chart.DayLabels.size();
    const unsigned axis = 0x606060, grid = 0xd0d0d0;

    double maxValue = 0;
    for (const TDocSeries &s : chart.Series) {
        for (const std::optional<double> &v : s.Values)
            maxValue = std::max(maxValue, v.value_or(0));
    }
    const double scale = NiceCeiling(maxValue);
    auto y = [&](double v) { return baseY - std::clamp(v / scale, 0.0, 1.0) * plotH; };

    // The scale: three grid lines with their values.
    for (double f : {0.0, 0.5, 1.0}) {
        const double at = y(f * scale);
        d.Shapes.push_back({TChartShape::Polyline, {{left, at}, {left + plotW, at}}, f == 0 ? axis : grid, 0.5, {}, -1});
        d.Shapes.push_back({TChartShape::Text, {{left - 3, at + 3}}, axis, 0,
                            locale.toString(f * scale, 'g', 6) + QLatin1Char(' ') + chart.Unit, 1});
    }
    // The legend, over the plot.
    double legendX = left;
    for (const TDocSeries &s : chart.Series) {
        d.Shapes.push_back({TChartShape::Rect, {{legendX, 4}, {legendX + 8, 11}}, s.Rgb, 0, {}, -1});
        d.Shapes.push_back({TChartShape::Text, {{legendX + 11, 11}}, 0x202020, 0, s.Name, -1});
        legendX += 20 + 5.0 * double(s.Name.size());
    }
    d.Shapes.push_back({TChartShape::Text, {{left + plotW, 11}}, 0x202020, 0, chart.Title, 1});
    if (days == 0)
        return d;

    const double step = plotW / double(days);
    for (const TDocSeries &s : chart.Series) {
        if (s.Bars) {
            const double w = std::max(step * 0.7, std::min(step, 0.4));
            for (size_t i = 0; i < days && i < s.Values.size(); ++i) {
                if (!s.Values[i] || *s.Values[i] <= 0)
                    continue;
                const double x = left + step * double(i) + (step - w) / 2;
                d.Shapes.push_back({TChartShape::Rect, {{x, y(*s.Values[i])}, {x + w, baseY}}, s.Rgb, 0, {}, -1});
            }
            continue;
        }
        // A line through the days that have a value, broken where one has none.
        std::vector<QPointF> run;
        auto flush = [&] {
            if (run.size() == 1) {   // a lone day: a short dash so it shows
                const double half = std::min(step / 3, 2.0);
                run = {{run[0].x() - half, run[0].y()}, {run[0].x() + half, run[0].y()}};
            }
            if (!run.empty())
                d.Shapes.push_back({TChartShape::Polyline, run, s.Rgb, 1.2, {}, -1});
            run.clear();
        };
        for (size_t i = 0; i < days && i < s.Values.size(); ++i) {
            if (s.Values[i])
                run.push_back({left + step * (double(i) + 0.5), y(*s.Values[i])});
            else
                flush();
        }
        flush();
    }
    // Up to seven days named under the axis, the first and the last among them.
    const size_t names = std::min<size_t>(days, 7);
    for (size_t k = 0; k < names; ++k) {
        const size_t i = names == 1 ? 0 : k * (days - 1) / (names - 1);
        const double x = left + step * (double(i) + 0.5);
        const int align = names == 1 ? 0 : k == 0 ? -1 : k + 1 == names ? 1 : 0;
        d.Shapes.push_back({TChartShape::Polyline, {{x, baseY}, {x, baseY + 2}}, axis, 0.5, {}, -1});
        d.Shapes.push_back({TChartShape::Text, {{align < 0 ? x - step / 2 : align > 0 ? x + step / 2 : x, baseY + 11}},
                            axis, 0, chart.DayLabels[qsizetype(i)], align});
    }
    return d;
}

} // namespace historyreport
