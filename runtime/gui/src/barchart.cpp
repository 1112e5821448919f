// The bar chart component over Qt Charts: columns with labels, one bar set per series, and value
// labels of its own above the bars.
#include "internal.h"
#include "runtime/qtext.h"
#include "runtime/text.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGraphicsObject>
#include <QPointer>
#include <QLegend>
#include <QPainter>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace rt::detail {
namespace {

constexpr double kMaxChartValue = 1e7;

// The value the chart stores for a written one: negative (and NaN) as 0, above 1e7 as 1e7.
double ClampChartValue(double value)
{
    if (!(value > 0.0)) {
        return 0.0;
    }
    return std::min(value, kMaxChartValue);
}

// Value labels: a bar's label stands kBarGap pixels above it; the glyphs of two labels keep the
// room of a space between them along their reading direction and a line's leading across it. Qt's
// own labels sit centred on their bars and run into each other once two values of a column need
// more room than a bar is wide ("1212" for 12 and 12).
constexpr double kBarGap = 2.0;
constexpr double kWordGap = 3.0;
constexpr double kLineGap = 2.0;
constexpr int kSmallestLabelPixels = 6;

// True when the two label rectangles come closer than the gaps allow: across x by dx, across y by dy.
bool Crowd(const QRectF& a, const QRectF& b, double dx, double dy)
{
    return a.left() < b.right() + dx && b.left() < a.right() + dx && a.top() < b.bottom() + dy &&
           b.top() < a.bottom() + dy;
}

// A bar's label text and its glyph box in the design's font, kept from the value's write.
struct ValueText {
    QString text;
    QRectF ink;
};

struct PlacedLabel {
    BarValueLabel label;
    QFont font;
    QRectF ink;  // the glyphs' box around the text's origin, unrotated
};

// Paints the labels that its chart places, over the bars. The chart's widgets may outlive the
// component (a closed window's wait for deletion), so the component detaches itself when it goes.
class ValueLabelItem final : public QGraphicsObject {
public:
    ValueLabelItem(QGraphicsItem* parent, std::function<std::vector<PlacedLabel>()> layout)
        : QGraphicsObject(parent), layout_(std::move(layout))
    {
        setAcceptedMouseButtons(Qt::NoButton);
        setZValue(1000);
    }
    void Detach() { layout_ = nullptr; }
    // The chart's area changed size.
    void Resize()
    {
        prepareGeometryChange();
        update();
    }
    QRectF boundingRect() const override { return parentItem()->boundingRect(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        if (!layout_) {
            return;
        }
        painter->setPen(QColor(Qt::black));
        for (const PlacedLabel& placed : layout_()) {
            const QRectF& rect = placed.label.rect;
            painter->save();
            painter->setFont(placed.font);
            if (placed.label.vertical) {
                // Turned a quarter left the glyph box runs from ink.top() to ink.bottom() across
                // and from -ink.right() to -ink.left() down.
                painter->translate(rect.left() - placed.ink.top(), rect.top() + placed.ink.right());
                painter->rotate(-90.0);
                painter->drawText(QPointF(0.0, 0.0), placed.label.text);
            } else {
                painter->drawText(rect.topLeft() - placed.ink.topLeft(), placed.label.text);
            }
            painter->restore();
        }
    }

private:
    std::function<std::vector<PlacedLabel>()> layout_;
};

class BarChartComponent final : public ComponentImpl {
public:
    BarChartComponent(WindowImpl& owner, const ComponentDesign& design, QWidget* parent)
        : ComponentImpl(owner, design)
    {
        const int columns = std::max(0, design.columns);
        const int seriesCount = std::max<int>(1, static_cast<int>(design.seriesCaptions.size()));
        labels_.assign(static_cast<std::size_t>(columns), std::string());
        values_.assign(static_cast<std::size_t>(seriesCount),
                       std::vector<double>(static_cast<std::size_t>(columns), 0.0));

        chart_ = new QChart();
        chart_->setAnimationOptions(QChart::NoAnimation);
        chart_->setTitle(ToQString(design.title));
        series_ = new QBarSeries(chart_);
        for (int s = 0; s < seriesCount; ++s) {
            const std::string caption =
                s < static_cast<int>(design.seriesCaptions.size()) ? design.seriesCaptions[static_cast<std::size_t>(s)]
                                                                   : std::string();
            auto* set = new QBarSet(ToQString(caption));
            for (int c = 0; c < columns; ++c) {
                set->append(0.0);
            }
            sets_.push_back(set);
            series_->append(set);
        }
        texts_.assign(values_.size(), std::vector<ValueText>(static_cast<std::size_t>(columns)));
        if (!design.valueLabel.empty()) {
            // Bars wide enough that the one-digit values of a column's bars stand side by side
            // ("2 2"); wider ones are placed apart by the labels' layout.
            series_->setBarWidth(0.8);
        }
        chart_->addSeries(series_);

        categories_ = new QBarCategoryAxis(chart_);
        chart_->addAxis(categories_, Qt::AlignBottom);
        series_->attachAxis(categories_);
        valueAxis_ = new QValueAxis(chart_);
        valueAxis_->setLabelFormat(QStringLiteral("%d"));
        chart_->addAxis(valueAxis_, Qt::AlignLeft);
        series_->attachAxis(valueAxis_);
        chart_->legend()->setVisible(true);
        chart_->legend()->setAlignment(Qt::AlignTop);

        if (HasDesignFont(design.font)) {
            const QFont font = DesignFont(design.font, chart_->titleFont());
            chart_->setTitleFont(font);
            chart_->legend()->setFont(font);
            categories_->setLabelsFont(font);
            valueAxis_->setLabelsFont(font);
            labelFont_ = font;
        } else {
            labelFont_ = chart_->legend()->font();
        }
        if (!design.valueLabel.empty()) {
            labelItem_ = new ValueLabelItem(chart_, [this] { return LayoutValueLabels(); });
            QObject::connect(chart_, &QChart::geometryChanged, this, [this] { labelItem_->Resize(); });
        }
        // The room kept above the bars for their labels depends on the plot area's size.
        QObject::connect(chart_, &QChart::plotAreaChanged, this, [this] {
            UpdateRange();
            if (labelItem_ != nullptr) {
                labelItem_->update();
            }
        });
        UpdateCategories();
        UpdateRange();

        view_ = new QChartView(chart_, parent);
        view_->setRenderHint(QPainter::Antialiasing);
        Attach(view_);
    }
    ~BarChartComponent() override
    {
        if (labelItem_ != nullptr) {
            labelItem_->Detach();
        }
    }

    // Places the label of every bar above zero: centred above its bar; raised above any label it
    // would touch, so that two labels never run into each other; upright while every label is
    // narrower than a column, else turned to read upwards, in a smaller font where even a turned
    // label would be wider than its bar.
    std::vector<PlacedLabel> LayoutValueLabels() const
    {
        std::vector<PlacedLabel> placed;
        const QRectF plot = chart_->plotArea();
        const int columns = Columns();
        if (design_.valueLabel.empty() || columns == 0 || plot.isEmpty()) {
            return placed;
        }
        const bool vertical = VerticalLabels(plot);
        const double n = static_cast<double>(sets_.size());
        const double barWidth = series_->barWidth();
        // Upright labels keep a space's room side by side and leading above each other; turned
        // ones the other way round.
        const double dx = vertical ? kLineGap : kWordGap;
        const double dy = vertical ? kWordGap : kLineGap;
        QFont font = labelFont_;
        if (vertical) {
            const double barPitch = plot.width() / columns * barWidth / n;
            for (int pixels = QFontInfo(font).pixelSize();
                 pixels > kSmallestLabelPixels && TallestLabel(font) + kLineGap > barPitch; --pixels) {
                font.setPixelSize(pixels - 1);
            }
        }
        const QFontMetricsF metrics(font);
        for (int column = 0; column < columns; ++column) {
            for (std::size_t s = 0; s < values_.size(); ++s) {
                const double value = values_[s][static_cast<std::size_t>(column)];
                if (!(value > 0.0)) {
                    continue;
                }
                PlacedLabel label;
                label.font = font;
                label.label.series = static_cast<int>(s);
                label.label.column = column;
                label.label.text = texts_[s][static_cast<std::size_t>(column)].text;
                label.label.vertical = vertical;
                label.ink = metrics.tightBoundingRect(label.label.text);
                const double centre = column - barWidth / 2 + (static_cast<double>(s) + 0.5) * barWidth / n;
                const QPointF top = chart_->mapToPosition(QPointF(centre, value), series_);
                const QSizeF size = vertical ? QSizeF(label.ink.height(), label.ink.width()) : label.ink.size();
                QRectF rect(QPointF(top.x() - size.width() / 2, top.y() - kBarGap - size.height()), size);
                if (rect.right() > plot.right()) {
                    rect.moveRight(plot.right());
                }
                if (rect.left() < plot.left()) {
                    rect.moveLeft(plot.left());
                }
                // Each label it touches lifts it above that one; it only ever moves up, so it
                // passes each other label once at most.
                for (bool moved = true; moved;) {
                    moved = false;
                    for (const PlacedLabel& other : placed) {
                        if (Crowd(rect, other.label.rect, dx, dy)) {
                            rect.moveBottom(other.label.rect.top() - dy);
                            moved = true;
                        }
                    }
                }
                label.label.rect = rect;
                placed.push_back(std::move(label));
            }
        }
        return placed;
    }

    int Columns() const override { return static_cast<int>(labels_.size()); }
    void SetCurrentColumn(int column) override { currentColumn_ = column; }
    int CurrentColumn() const override { return currentColumn_; }
    void SetCurrentSeries(int series) override { currentSeries_ = series; }
    int CurrentSeries() const override { return currentSeries_; }

    void SetColumnLabel(std::string_view label) override
    {
        if (!ColumnValid()) {
            return;
        }
        labels_[static_cast<std::size_t>(currentColumn_)] = std::string(label);
        UpdateCategories();
    }
    std::string ColumnLabel() const override
    {
        return ColumnValid() ? labels_[static_cast<std::size_t>(currentColumn_)] : std::string();
    }

    void SetValue(double value) override
    {
        if (!ColumnValid() || !SeriesValid()) {
            return;
        }
        const double stored = ClampChartValue(value);
        const auto s = static_cast<std::size_t>(currentSeries_);
        const auto c = static_cast<std::size_t>(currentColumn_);
        values_[s][c] = stored;
        texts_[s][c].text = LabelText(stored);
        texts_[s][c].ink = QFontMetricsF(labelFont_).tightBoundingRect(texts_[s][c].text);
        sets_[s]->replace(currentColumn_, stored);
        UpdateRange();
        if (labelItem_ != nullptr) {
            labelItem_->update();
        }
    }
    double Value() const override
    {
        if (!ColumnValid() || !SeriesValid()) {
            return 0.0;
        }
        return values_[static_cast<std::size_t>(currentSeries_)][static_cast<std::size_t>(currentColumn_)];
    }

    void SetCaption(std::string_view text) override
    {
        title_ = std::string(text);
        chart_->setTitle(ToQString(text));
    }
    std::string Caption() const override { return title_.empty() ? design_.title : title_; }

private:
    bool ColumnValid() const { return currentColumn_ >= 0 && currentColumn_ < static_cast<int>(labels_.size()); }
    bool SeriesValid() const
    {
        return currentSeries_ >= 0 && currentSeries_ < static_cast<int>(values_.size());
    }

    // Qt's category axis refuses duplicate categories, while day labels repeat (1 March of a
    // common year shows "1" twice); invisible zero-width spaces keep each category distinct.
    void UpdateCategories()
    {
        QStringList categories;
        for (std::size_t i = 0; i < labels_.size(); ++i) {
            const auto repeats = std::count(labels_.begin(), labels_.begin() + static_cast<std::ptrdiff_t>(i),
                                            labels_[i]);
            categories << ToQString(labels_[i]) + QString(static_cast<qsizetype>(repeats), QChar(0x200B));
        }
        categories_->setCategories(categories);
    }

    // The value's label: the design's format with the value's text for each "${v}".
    QString LabelText(double value) const
    {
        std::string text = design_.valueLabel;
        const std::string number = ToText(value);
        for (std::size_t at = text.find("${v}"); at != std::string::npos; at = text.find("${v}", at + number.size())) {
            text.replace(at, 4, number);
        }
        return ToQString(text);
    }

    // The widest glyph box of a label in the design's font, and the tallest one in font.
    double WidestLabel() const
    {
        double widest = 0.0;
        ForEachLabel([&](double, const ValueText& label) { widest = std::max(widest, label.ink.width()); });
        return widest;
    }
    double TallestLabel(const QFont& font) const
    {
        const QFontMetricsF metrics(font);
        double tallest = 0.0;
        ForEachLabel([&](double, const ValueText& label) {
            tallest = std::max(tallest, metrics.tightBoundingRect(label.text).height());
        });
        return tallest;
    }
    template <typename F>
    void ForEachLabel(F&& f) const
    {
        for (std::size_t s = 0; s < values_.size(); ++s) {
            for (std::size_t c = 0; c < values_[s].size(); ++c) {
                if (values_[s][c] > 0.0) {
                    f(values_[s][c], texts_[s][c]);
                }
            }
        }
    }

    // Upright labels only while those of one series in neighbouring columns keep a space between
    // them, also at the ends, where the first and the last label are kept inside the plot area.
    // Then a label can run only into the one placed before it (the other series' label of its own
    // or of the neighbouring column), which keeps the lifted ones within the room TopForLabels
    // keeps above the bars.
    bool VerticalLabels(const QRectF& plot) const
    {
        const double pitch = plot.width() / Columns();
        const double barWidth = series_->barWidth();
        const double edgeRoom = pitch * (1.0 - barWidth) / 2 + pitch * barWidth / static_cast<double>(sets_.size()) / 2;
        const double widest = WidestLabel();
        return widest + kWordGap + std::max(0.0, widest / 2 - edgeRoom) > pitch;
    }

    // The axis top that leaves every bar room for its label above it: the bar's share of the plot
    // height may not exceed (height - room) / height. Upright labels need room for three of them,
    // lifted one above the other; turned ones their length.
    double TopForLabels() const
    {
        const QRectF plot = chart_->plotArea();
        if (labelItem_ == nullptr || plot.isEmpty() || Columns() == 0) {
            return 0.0;
        }
        const bool vertical = VerticalLabels(plot);
        double top = 0.0;
        ForEachLabel([&](double value, const ValueText& label) {
            const QRectF& ink = label.ink;
            const double room = kBarGap + 1.0 + (vertical ? ink.width() : 3 * ink.height() + 2 * kLineGap);
            top = std::max(top, value * plot.height() / std::max(plot.height() - room, plot.height() / 4));
        });
        return top;
    }

    void UpdateRange()
    {
        double top = 0.0;
        for (const auto& series : values_) {
            for (double v : series) {
                top = std::max(top, v);
            }
        }
        // Room above the tallest bar for its value label; ticks at whole numbers only, since the
        // values are counts and the labels print as integers.
        const double wanted = std::max({5.0, std::ceil(top * 1.15), std::ceil(TopForLabels())});
        const double step = std::max(1.0, std::ceil(wanted / 5.0));
        const double upper = std::ceil(wanted / step) * step;
        valueAxis_->setTickType(QValueAxis::TicksDynamic);
        valueAxis_->setTickAnchor(0.0);
        valueAxis_->setTickInterval(step);
        valueAxis_->setRange(0.0, upper);
    }

    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QBarSeries* series_ = nullptr;
    QBarCategoryAxis* categories_ = nullptr;
    QValueAxis* valueAxis_ = nullptr;
    std::vector<QBarSet*> sets_;
    std::vector<std::string> labels_;
    std::vector<std::vector<double>> values_;  // [series][column], as stored
    std::vector<std::vector<ValueText>> texts_;  // [series][column], the values' labels
    QFont labelFont_;
    QPointer<ValueLabelItem> labelItem_;  // owned by the chart; none without a label format
    std::string title_;
    int currentColumn_ = 0;
    int currentSeries_ = 0;
};

}  // namespace

std::vector<BarValueLabel> BarChartValueLabels(const Component& component)
{
    std::vector<BarValueLabel> labels;
    if (const auto* chart = dynamic_cast<const BarChartComponent*>(&component)) {
        for (PlacedLabel& placed : chart->LayoutValueLabels()) {
            labels.push_back(std::move(placed.label));
        }
    }
    return labels;
}

std::unique_ptr<ComponentImpl> CreateBarChart(WindowImpl& owner, const ComponentDesign& design,
                                              QWidget* parent)
{
    return std::make_unique<BarChartComponent>(owner, design, parent);
}

}  // namespace rt::detail
