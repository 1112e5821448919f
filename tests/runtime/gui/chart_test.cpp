// The bar chart: column and series addressing, stored values, labels.
#include "gui_test_util.h"
#include "runtime/qtext.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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
        auto chart = test::Design(ComponentType::BarChart, "DailyChart", 5, 65, 867, 328);
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
    EXPECT_TRUE(series->isLabelsVisible());
    EXPECT_EQ(series->labelsFormat(), QStringLiteral("@value"));
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
