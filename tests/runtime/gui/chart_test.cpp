// The bar chart: column and series addressing, stored values, labels.
#include "gui_test_util.h"
#include "internal.h"
#include "runtime/qtext.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace rt {
namespace {

using test::GuiTest;

class ChartTest : public GuiTest {
protected:
    void SetUp() override
    {
        name_ = test::UniqueWindowName("Chart");
        WindowDesign w;
        w.name = name_;
        w.width = 900;
        w.height = 400;
        auto chart = DesignComponent(ComponentType::BarChart, "DailyChart", 5, 65, 867, 328);
        chart.columns = 30;
        chart.seriesCaptions = {Gbk("好番茄"), Gbk("烂番茄")};
        chart.title = Gbk("30天内的番茄钟数");
        chart.valueLabel = "${v}";
        chart.font = {Gbk("新宋体"), 12, 400};
        w.components.push_back(chart);
        DefineWindow(w);
        ASSERT_TRUE(LoadWindow(name_));
        chart_ = FindComponent(name_, "DailyChart");
        ASSERT_NE(chart_, nullptr);
    }

    QChart* QtChart() const { return static_cast<QChartView*>(chart_->Widget())->chart(); }

    void Write(int column, int series, double value)
    {
        chart_->SetCurrentColumn(column);
        chart_->SetCurrentSeries(series);
        chart_->SetValue(value);
    }

    // The chart as it is painted, and the dark pixels (text, not the light grid or the bars) in the
    // strip of the given column from the top of its tallest bar up to 24 pixels above it: where the
    // value labels of that column stand.
    QImage Paint() const { return chart_->Widget()->grab().toImage(); }
    int DarkPixelsAboveColumn(const QImage& image, int column) const
    {
        auto* view = static_cast<QChartView*>(chart_->Widget());
        auto* series = QtChart()->series().at(0);
        double top = 0.0;
        for (const QBarSet* set : static_cast<QBarSeries*>(series)->barSets()) {
            top = std::max(top, set->at(column));
        }
        const QPoint barTop = view->mapFromScene(QtChart()->mapToPosition(QPointF(column, top), series));
        const QPoint left = view->mapFromScene(QtChart()->mapToPosition(QPointF(column - 0.5, top), series));
        const QPoint right = view->mapFromScene(QtChart()->mapToPosition(QPointF(column + 0.5, top), series));
        int dark = 0;
        for (int y = std::max(0, barTop.y() - 24); y <= barTop.y() - 2; ++y) {
            for (int x = left.x() + 1; x < right.x(); ++x) {
                if (qGray(image.pixel(x, y)) < 128) {
                    ++dark;
                }
            }
        }
        return dark;
    }

    // Lets the chart lay itself out again as it does before the user sees it: a change of the axis
    // range moves the plot area, which moves the room kept for the labels.
    void Settle() const
    {
        QRectF before;
        for (int round = 0; round < 10 && QtChart()->plotArea() != before; ++round) {
            before = QtChart()->plotArea();
            QCoreApplication::processEvents();
        }
    }

    // The value labels as painted, their rectangles in the widget's pixels.
    std::vector<detail::BarValueLabel> Labels() const
    {
        auto* view = static_cast<QChartView*>(chart_->Widget());
        std::vector<detail::BarValueLabel> labels = detail::BarChartValueLabels(*chart_);
        for (auto& label : labels) {
            label.rect = view->viewportTransform().mapRect(QtChart()->mapRectToScene(label.rect));
        }
        return labels;
    }
    // A bar's rectangle in the widget's pixels.
    QRect Bar(int column, int series) const
    {
        auto* view = static_cast<QChartView*>(chart_->Widget());
        auto* qseries = static_cast<QBarSeries*>(QtChart()->series().at(0));
        const double width = qseries->barWidth() / 2;
        const double left = column - qseries->barWidth() / 2 + series * width;
        const double value = qseries->barSets().at(series)->at(column);
        const QPointF a = QtChart()->mapToPosition(QPointF(left, value), qseries);
        const QPointF b = QtChart()->mapToPosition(QPointF(left + width, 0.0), qseries);
        return view->viewportTransform().mapRect(QtChart()->mapRectToScene(QRectF(a, b).normalized())).toAlignedRect();
    }
    QRect PlotArea() const
    {
        auto* view = static_cast<QChartView*>(chart_->Widget());
        return view->viewportTransform().mapRect(QtChart()->mapRectToScene(QtChart()->plotArea())).toAlignedRect();
    }

    // Every label stands inside the plot area over its own bar, with at least a pixel clear
    // between any two of them; answers the labels.
    std::vector<detail::BarValueLabel> ExpectLabelsApart() const
    {
        const std::vector<detail::BarValueLabel> labels = Labels();
        const QRectF plot = PlotArea();
        for (std::size_t i = 0; i < labels.size(); ++i) {
            const auto& a = labels[i];
            SCOPED_TRACE("label " + a.text.toStdString() + " of column " + std::to_string(a.column) + ", series " +
                         std::to_string(a.series));
            EXPECT_TRUE(plot.adjusted(-1, -1, 1, 1).contains(a.rect));
            const QRect bar = Bar(a.column, a.series);
            EXPECT_LE(a.rect.bottom(), bar.top());
            EXPECT_TRUE(a.rect.left() < bar.right() && bar.left() < a.rect.right());
            for (std::size_t j = i + 1; j < labels.size(); ++j) {
                const auto& b = labels[j];
                EXPECT_FALSE(a.rect.adjusted(-1, -1, 1, 1).intersects(b.rect))
                    << "touches " << b.text.toStdString() << " of column " << b.column << ", series " << b.series;
            }
        }
        return labels;
    }

    std::string name_;
    Component* chart_ = nullptr;
};

TEST_F(ChartTest, DesignIsShown)
{
    EXPECT_EQ(chart_->Columns(), 30);
    EXPECT_EQ(QtChart()->title(), QString::fromUtf8("30天内的番茄钟数"));
    auto* series = static_cast<QBarSeries*>(QtChart()->series().at(0));
    ASSERT_EQ(series->count(), 2);
    EXPECT_EQ(series->barSets().at(0)->label(), QString::fromUtf8("好番茄"));
    EXPECT_EQ(series->barSets().at(1)->label(), QString::fromUtf8("烂番茄"));
    EXPECT_EQ(series->barSets().at(0)->count(), 30);
}

// A label is the design's format with the value as text, whole numbers without a fraction or an
// exponent; a bar of 0 has none.
TEST_F(ChartTest, ValueLabelIsTheValueAsText)
{
    struct Case {
        double value;
        const char* label;  // nullptr: no label
    };
    const Case cases[] = {{3, "3"}, {12, "12"}, {2.5, "2.5"}, {1234567, "1234567"}, {1e7, "10000000"},
                          {1e9, "10000000"}, {0, nullptr}, {-4, nullptr}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Write(7, 1, c.value);
        const auto labels = Labels();
        if (c.label == nullptr) {
            EXPECT_TRUE(labels.empty());
            continue;
        }
        ASSERT_EQ(labels.size(), 1u);
        EXPECT_EQ(labels[0].text, QString::fromLatin1(c.label));
        EXPECT_EQ(labels[0].column, 7);
        EXPECT_EQ(labels[0].series, 1);
    }
}

// Two equal values in every column, of each width up to the widest the chart stores: each label
// stands apart from the other one of its column and from those of the neighbouring columns, above
// its bar. The painted pixels show that the rectangles hold all of the text: every dark pixel in
// the plot area outside the bars lies in a label's rectangle, and every label has dark pixels.
TEST_F(ChartTest, EqualValuesOfEveryWidthStandApart)
{
    for (double value : {7.0, 12.0, 99.0, 100.0, 999.0, 1e7}) {
        SCOPED_TRACE(value);
        for (int column = 0; column < 30; ++column) {
            Write(column, 0, value);
            Write(column, 1, value);
        }
        Settle();
        const auto labels = ExpectLabelsApart();
        ASSERT_EQ(labels.size(), 60u);
        const QImage image = Paint();
        const QRect plot = PlotArea();
        std::vector<QRect> bars;
        for (int column = 0; column < 30; ++column) {
            bars.push_back(Bar(column, 0).adjusted(-1, -1, 1, 1));
            bars.push_back(Bar(column, 1).adjusted(-1, -1, 1, 1));
        }
        std::vector<int> ink(labels.size(), 0);
        int stray = 0;
        for (int y = plot.top(); y <= plot.bottom(); ++y) {
            for (int x = plot.left(); x <= plot.right(); ++x) {
                if (qGray(image.pixel(x, y)) >= 128 ||
                    std::any_of(bars.begin(), bars.end(), [x, y](const QRect& bar) { return bar.contains(x, y); })) {
                    continue;
                }
                bool inLabel = false;
                for (std::size_t i = 0; i < labels.size(); ++i) {
                    if (labels[i].rect.adjusted(-1, -1, 1, 1).contains(QPointF(x + 0.5, y + 0.5))) {
                        ++ink[i];
                        inLabel = true;
                    }
                }
                stray += inLabel ? 0 : 1;
            }
        }
        EXPECT_EQ(stray, 0);
        EXPECT_EQ(std::count(ink.begin(), ink.end(), 0), 0);
    }
}

// Values up to 99 in any mix: neighbours of different heights, one or two digits side by side,
// bars of 0 between them. A fixed pseudo-random series of charts.
TEST_F(ChartTest, MixedValuesUpToNinetyNineStandApart)
{
    std::uint32_t seed = 12345;
    auto next = [&seed](int below) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(below));
    };
    for (int chart = 0; chart < 48; ++chart) {
        SCOPED_TRACE(chart);
        // Tall charts, and low ones whose neighbours stand close to each other.
        const int top = std::array{100, 50, 20, 12}[static_cast<std::size_t>(chart % 4)];
        for (int column = 0; column < 30; ++column) {
            const int good = next(top);
            Write(column, 0, good);
            Write(column, 1, next(3) == 0 ? good : next(top));
        }
        Settle();
        ExpectLabelsApart();
    }
}

// The value of every non-zero bar is painted readably above it; a zero bar shows no label. Checked
// on the painted pixels, after the first values and again after a refresh moved them.
TEST_F(ChartTest, NonZeroValuesArePaintedDarkAboveTheirBars)
{
    Write(4, 0, 3);
    Write(4, 1, 1);
    Write(12, 1, 12);
    QImage image = Paint();
    EXPECT_GE(DarkPixelsAboveColumn(image, 4), 8);
    EXPECT_GE(DarkPixelsAboveColumn(image, 12), 8);
    for (int column : {0, 5, 11, 29}) {
        SCOPED_TRACE(column);
        EXPECT_EQ(DarkPixelsAboveColumn(image, column), 0);
    }

    // The refresh as the program makes it: every bar written again through the properties.
    for (int column = 0; column < 30; ++column) {
        Write(column, 0, column == 20 ? 7 : 0);
        Write(column, 1, 0);
    }
    image = Paint();
    EXPECT_GE(DarkPixelsAboveColumn(image, 20), 8);
    for (int column : {4, 12, 19, 21}) {
        SCOPED_TRACE(column);
        EXPECT_EQ(DarkPixelsAboveColumn(image, column), 0);
    }
}

TEST_F(ChartTest, ValueIsStoredClampedAndReadBack)
{
    struct Case {
        double written;
        double stored;
    };
    const Case cases[] = {
        {-5.0, 0.0},  {-1e-9, 0.0}, {0.0, 0.0},   {3.0, 3.0},      {2.5, 2.5},
        {1e7, 1e7},   {1e7 + 1, 1e7}, {1e12, 1e7}, {std::numeric_limits<double>::infinity(), 1e7},
        {-std::numeric_limits<double>::infinity(), 0.0}, {std::nan(""), 0.0},
    };
    auto* set = static_cast<QBarSeries*>(QtChart()->series().at(0))->barSets().at(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.written);
        chart_->SetCurrentColumn(4);
        chart_->SetCurrentSeries(1);
        chart_->SetValue(c.written);
        EXPECT_EQ(chart_->Value(), c.stored);
        EXPECT_EQ(set->at(4), c.stored);
    }
}

TEST_F(ChartTest, CurrentColumnAndSeriesAddressEachBar)
{
    for (int column = 0; column < 30; ++column) {
        chart_->SetCurrentColumn(column);
        chart_->SetColumnLabel(ToText(column + 1));
        chart_->SetCurrentSeries(0);
        chart_->SetValue(column);
        chart_->SetCurrentSeries(1);
        chart_->SetValue(100 + column);
    }
    auto* series = static_cast<QBarSeries*>(QtChart()->series().at(0));
    for (int column = 0; column < 30; ++column) {
        chart_->SetCurrentColumn(column);
        chart_->SetCurrentSeries(0);
        EXPECT_EQ(chart_->Value(), column);
        chart_->SetCurrentSeries(1);
        EXPECT_EQ(chart_->Value(), 100 + column);
        EXPECT_EQ(chart_->ColumnLabel(), ToText(column + 1));
        EXPECT_EQ(series->barSets().at(0)->at(column), column);
    }
    // Outside the columns or series nothing is written and 0 is read.
    chart_->SetCurrentColumn(30);
    chart_->SetValue(7);
    EXPECT_EQ(chart_->Value(), 0.0);
    EXPECT_EQ(chart_->ColumnLabel(), "");
    chart_->SetCurrentColumn(0);
    chart_->SetCurrentSeries(2);
    chart_->SetValue(7);
    EXPECT_EQ(chart_->Value(), 0.0);
    chart_->SetCurrentSeries(0);
    EXPECT_EQ(chart_->Value(), 0.0);
}

TEST_F(ChartTest, RepeatedDayLabelsAreAllKept)
{
    // 1 March of a common year: 1, 28, 27, ..., 2, 1, 31.
    std::vector<std::string> labels = {"1"};
    for (int day = 28; day >= 1; --day) {
        labels.push_back(ToText(day));
    }
    labels.push_back("31");
    ASSERT_EQ(labels.size(), 30u);
    for (int column = 0; column < 30; ++column) {
        chart_->SetCurrentColumn(column);
        chart_->SetColumnLabel(labels[static_cast<std::size_t>(column)]);
    }
    for (int column = 0; column < 30; ++column) {
        chart_->SetCurrentColumn(column);
        EXPECT_EQ(chart_->ColumnLabel(), labels[static_cast<std::size_t>(column)]);
    }
    auto* axis = static_cast<QBarCategoryAxis*>(QtChart()->axes(Qt::Horizontal).at(0));
    ASSERT_EQ(axis->count(), 30);
    EXPECT_EQ(axis->at(0), QStringLiteral("1"));
    EXPECT_NE(axis->at(28), axis->at(0));
    EXPECT_TRUE(axis->at(28).startsWith(QStringLiteral("1")));
    EXPECT_EQ(axis->at(29), QStringLiteral("31"));
}

}  // namespace
}  // namespace rt
