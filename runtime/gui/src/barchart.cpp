// The bar chart component over Qt Charts: columns with labels, one bar set per series.
#include "internal.h"
#include "runtime/qtext.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QPainter>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

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
        if (!design.valueLabel.empty()) {
            QString format = ToQString(design.valueLabel);
            format.replace(QStringLiteral("${v}"), QStringLiteral("@value"));
            series_->setLabelsFormat(format);
            series_->setLabelsVisible(true);
            series_->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
            // Bars wide enough that the one-digit values of a column's bars stand apart ("2 2",
            // not "22"); the default leaves them touching.
            series_->setBarWidth(0.8);
        }
        chart_->addSeries(series_);
        // Adding the series applies the chart's theme, which picks label colours that stand out
        // against the bar; above the bar they would stand on the white background, invisible. A
        // set's own label colour is kept by the theme from here on (only a theme change resets it).
        for (QBarSet* set : sets_) {
            set->setLabelColor(QColor(Qt::black));
        }

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
            for (QBarSet* set : sets_) {
                set->setLabelFont(font);
            }
        }
        UpdateCategories();
        UpdateRange();

        view_ = new QChartView(chart_, parent);
        view_->setRenderHint(QPainter::Antialiasing);
        Attach(view_);
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
        values_[static_cast<std::size_t>(currentSeries_)][static_cast<std::size_t>(currentColumn_)] = stored;
        sets_[static_cast<std::size_t>(currentSeries_)]->replace(currentColumn_, stored);
        UpdateRange();
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
        const double wanted = std::max(5.0, std::ceil(top * 1.15));
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
    std::string title_;
    int currentColumn_ = 0;
    int currentSeries_ = 0;
};

}  // namespace

std::unique_ptr<ComponentImpl> CreateBarChart(WindowImpl& owner, const ComponentDesign& design,
                                              QWidget* parent)
{
    return std::make_unique<BarChartComponent>(owner, design, parent);
}

}  // namespace rt::detail
