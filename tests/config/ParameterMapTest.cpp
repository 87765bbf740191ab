#include "config/ParameterMap.h"
#include "common/TickGuard.h"
#include "config/ConfigLayout.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

using config::Kind;
using config::kParameters;
using config::Page;
using config::Parameter;

const Parameter& parameter(int index) { return kParameters.at(static_cast<std::size_t>(index)); }

std::string utf8(const QString& text) { return text.toStdString(); }

struct RowExpectation {
    int index;
    const char* page;
    const char* caption;
    int label;
    const char* entry; ///< list name, or "D_4wT" for a typed entry
    const char* list;
    int lower;
    int upper;
};

// The rows as the operator's documentation gives them.
const std::vector<RowExpectation> kExpectedRows = {
    {0, "继电器", "报警一类型", 0, "Combo22", "AlarmTypeList", 0, 0},
    {1, "继电器", "报警1吸合值", 1, "D_4wT", "", 0, 9999},
    {2, "继电器", "报警1释放值", 2, "D_4wT", "", 0, 9999},
    {3, "继电器", "报警二类型", 8, "Combo23", "AlarmTypeList", 0, 0},
    {4, "继电器", "报警2吸合值", 7, "D_4wT", "", 0, 9999},
    {5, "继电器", "报警2释放值", 6, "D_4wT", "", 0, 9999},
    {6, "输入", "电压变比", 13, "D_4wT", "", 0, 9999},
    {7, "输入", "电流变比", 14, "D_4wT", "", 0, 2000},
    {8, "输入", "显示切换", 12, "Combo11", "DisplayModeList", 0, 0},
    {9, "输入", "接线方式", 15, "Combo12", "WiringList", 0, 0},
    {10, "输入", "相线选择", 19, "Combo17", "LinePhaseList", 0, 0},
    {11, "输入", "数字滤波", 17, "D_4wT", "", 0, 10},
    {12, "通讯", "通讯地址", 20, "D_4wT", "", 0, 247},
    {13, "通讯", "波特率", 21, "Combo19", "BaudList", 0, 0},
    {14, "通讯", "校验方式", 22, "Combo20", "ParityList", 0, 0},
    {15, "通讯", "通讯延迟", 23, "D_4wT", "", 0, 60},
    {16, "变送", "变送1内容", 11, "Combo8", "TransmitterQuantityList", 0, 0},
    {17, "变送", "变送1类型", 26, "Combo1", "TransmitterTypeList", 0, 0},
    {18, "变送", "变送1上限值", 10, "D_4wT", "", 1, 9999},
    {19, "变送", "变送1下限值", 9, "D_4wT", "", 0, 9999},
    {20, "变送", "变送2内容", 4, "Combo3", "TransmitterQuantityList", 0, 0},
    {21, "变送", "变送2类型", 3, "Combo2", "TransmitterTypeList", 0, 0},
    {22, "变送", "变送2上限值", 5, "D_4wT", "", 1, 9999},
    {23, "变送", "变送2下限值", 16, "D_4wT", "", 0, 9999},
    {24, "变送", "变送3内容", 24, "Combo5", "TransmitterQuantityList", 0, 0},
    {25, "变送", "变送3类型", 18, "Combo4", "TransmitterTypeList", 0, 0},
    {26, "变送", "变送3上限值", 25, "D_4wT", "", 1, 9999},
    {27, "变送", "变送3下限值", 27, "D_4wT", "", 1, 9999},
};

TEST(ParameterMap, HoldsTheTwentyEightRowsInIndexOrder) {
    ASSERT_EQ(kExpectedRows.size(), kParameters.size());
    for (const RowExpectation& row : kExpectedRows) {
        SCOPED_TRACE(row.index);
        const Parameter& p = parameter(row.index);
        EXPECT_EQ(p.index, row.index);
        EXPECT_EQ(config::registerOf(p), row.index + 1);
        EXPECT_STREQ(config::kPageTitles.at(static_cast<std::size_t>(p.page)), row.page);
        EXPECT_STREQ(p.caption, row.caption);
        EXPECT_EQ(p.captionIndex, row.label);
        const bool typed = std::string(row.entry) == "D_4wT";
        EXPECT_EQ(p.kind == Kind::List, !typed);
        EXPECT_EQ(p.listName == nullptr, typed);
        EXPECT_EQ(p.list == nullptr, typed);
        if (typed) {
            EXPECT_EQ(p.lower, row.lower);
            EXPECT_EQ(p.upper, row.upper);
        } else {
            EXPECT_STREQ(p.listName, row.entry);
            EXPECT_STREQ(p.list->name, row.list);
        }
    }
}

TEST(ParameterMap, OnlyTheDigitalFilterIsKeptInTenths) {
    for (const Parameter& p : kParameters) {
        EXPECT_EQ(p.kind == Kind::Tenths, p.index == 11) << p.index;
    }
}

TEST(ParameterMap, UsesEveryCaptionIndexOnce) {
    std::set<int> labels;
    for (const Parameter& p : kParameters) {
        labels.insert(p.captionIndex);
    }
    EXPECT_EQ(labels.size(), kParameters.size());
    EXPECT_EQ(*labels.begin(), 0);
    EXPECT_EQ(*labels.rbegin(), 27);
}

TEST(ParameterMap, OnlyTheVoltageRatioRowIsDisabled) {
    for (const Parameter& p : kParameters) {
        EXPECT_EQ(p.enabled, p.index != 6) << p.index;
    }
}

TEST(ParameterMap, PlacesRowsInIndexOrderWithTransmitterThreeInTheRightColumn) {
    std::vector<int> nextRow(config::kPageCount * 2, 0);
    for (const Parameter& p : kParameters) {
        SCOPED_TRACE(p.index);
        EXPECT_EQ(p.column, p.index >= 24 ? 1 : 0);
        const int slot = static_cast<int>(p.page) * 2 + p.column;
        EXPECT_EQ(p.row, nextRow[static_cast<std::size_t>(slot)]++);
    }
    const int transmitter = static_cast<int>(Page::Transmitter) * 2;
    EXPECT_EQ(nextRow[static_cast<std::size_t>(transmitter)], 8);
    EXPECT_EQ(nextRow[static_cast<std::size_t>(transmitter + 1)], 4);
}

TEST(ParameterMap, FindsParametersOnlyFromZeroToTwentySeven) {
    EXPECT_EQ(config::parameterAt(0), &kParameters.front());
    EXPECT_EQ(config::parameterAt(27), &kParameters.back());
    for (const long long index : {-1LL, 28LL, 31LL, 100LL, -32768LL}) {
        EXPECT_EQ(config::parameterAt(index), nullptr) << index;
    }
}

TEST(ParameterMap, FillsTheListsInLoadOrder) {
    const std::vector<std::string> expected = {"Combo11", "Combo22", "Combo23", "Combo8", "Combo1",
                                               "Combo3",  "Combo2",  "Combo5",  "Combo4", "Combo12",
                                               "Combo17", "Combo19", "Combo20"};
    std::vector<std::string> names;
    for (const int index : config::kListFillOrder) {
        names.emplace_back(parameter(index).listName);
    }
    EXPECT_EQ(names, expected);
}

struct ListExpectation {
    const config::ChoiceList* list;
    std::vector<std::pair<std::string, std::string>> items;
};

const std::vector<ListExpectation>& expectedLists() {
    static const std::vector<ListExpectation> lists = {
        {&config::kAlarmTypeList,
         {{"0:无报警", "无报警"},
          {"1:三相电压平均值报警 ", "三相电压平均值报警"},
          {"2:A相电压报警 ", "A相电压报警"},
          {"3:B相电压报警 ", "B相电压报警"},
          {"4:C相电压报警 ", "C相电压报警"},
          {"5:AB线电压报警 ", "AB线电压报警"},
          {"6:BC线电压报警", "BC线电压报警"},
          {"7:CA线电压报警 ", "CA线电压报警"},
          {"8:A相电流报警 ", "A相电流报警"},
          {"9:B相电流报警 ", "B相电流报警"},
          {"10:C相电流报警 ", "C相电流报警"},
          {"11:合相电流平均值报警 ", "三相电流平均值报警"},
          {"12:A相有功报警", "A相有功报警"},
          {"13:B相有功报警 ", "B相有功报警"},
          {"14:C相有功报警 ", "C相有功报警"},
          {"15:合相有功报警 ", "总有功报警"}}},
        {&config::kTransmitterQuantityList,
         {{"0:无", "无变送"},
          {"1:三相电压平均值变送 ", "三相电压平均值变送"},
          {"2:A相电压变送 ", "A相电压变送"},
          {"3:B相电压变送 ", "B相电压变送"},
          {"4:C相电压变送 ", "C相电压变送"},
          {"5:AB线电压变送 ", "AB线电压变送"},
          {"6:BC线电压变送", "BC线电压变送"},
          {"7:CA线电压变送 ", "CA线电压变送"},
          {"8:A相电流变送 ", "A相电流变送"},
          {"9:B相电流变送 ", "B相电流变送"},
          {"10:C相电流变送 ", "C相电流变送"},
          {"11:合相电流平均值变送 ", "三相电流平均值变送"},
          {"12:A相有功变送", "A相有功变送"},
          {"13:B相有功变送 ", "B相有功变送"},
          {"14:C相有功变送 ", "C相有功变送"},
          {"15:合相有功变送 ", "总有功变送"}}},
        {&config::kTransmitterTypeList,
         {{"0:4MA20,1V5", "4MA20,1V5"}, {"1:0MA10,0MA20,0V5,0V10 ", "0MA10,0MA20,0V5,0V10"}}},
        {&config::kDisplayModeList,
         {{"0:三相电压", "三相电压"},
          {"1:三相电流 ", "三相电流"},
          {"2:三相有功功率 ", "三相有功功率"},
          {"3:频率 ", "频率"},
          {"4:分相有功功率 ", "分相有功功率"},
          {"5:电能 ", "电能"},
          {"6:万度累积次数 ", "万度累积次数显"},
          {"7:轮显 ", "轮显"}}},
        {&config::kWiringList, {{"0:三线制", "三线制"}, {"1:四线制 ", "四线制"}}},
        {&config::kLinePhaseList, {{"0:线电压", "线电压"}, {"1:相电压 ", "相电压"}}},
        {&config::kBaudList, {{"0:4800", "4800"}, {"1:9600 ", "9600"}, {"2:19200 ", "19200"}}},
        {&config::kParityList,
         {{"0:无校验", "无校验"}, {"1:奇校验 ", "奇校验"}, {"2:偶校验 ", "偶校验"}}},
    };
    return lists;
}

TEST(ChoiceLists, HoldTheirListAndDisplayTextsInCodeOrderTrailingBlanksIncluded) {
    for (const ListExpectation& expected : expectedLists()) {
        SCOPED_TRACE(expected.list->name);
        ASSERT_EQ(expected.list->items.size(), expected.items.size());
        for (std::size_t code = 0; code < expected.items.size(); ++code) {
            EXPECT_EQ(expected.list->items[code].listText, expected.items[code].first) << code;
            EXPECT_EQ(expected.list->items[code].displayText, expected.items[code].second) << code;
        }
    }
}

TEST(ChoiceLists, ListTextsStartWithTheirCode) {
    for (const ListExpectation& expected : expectedLists()) {
        for (std::size_t code = 0; code < expected.list->items.size(); ++code) {
            const std::string text = expected.list->items[code].listText;
            EXPECT_EQ(text.substr(0, text.find(':')), std::to_string(code)) << text;
        }
    }
}

TEST(ChoiceLists, DisplayTextsDifferFromTheListTextsInSixPlacesBeyondTheCode) {
    int differences = 0;
    for (const ListExpectation& expected : expectedLists()) {
        for (const config::ChoiceItem& item : expected.list->items) {
            std::string bare = item.listText;
            bare = bare.substr(bare.find(':') + 1);
            while (!bare.empty() && bare.back() == ' ') {
                bare.pop_back();
            }
            differences += bare != item.displayText ? 1 : 0;
        }
    }
    EXPECT_EQ(differences, 6);
}

struct ShownRow {
    int index;
    std::int32_t raw;
    std::optional<std::string> expected;
};

TEST(ShownText, IsTheDecimalTheTenthsOrTheDisplayTextOfTheCode) {
    const std::vector<ShownRow> rows = {
        {0, 0, "无报警"},
        {0, 15, "总有功报警"},
        {3, 11, "三相电流平均值报警"},
        {0, 16, std::nullopt},
        {0, -1, std::nullopt},
        {3, 16, std::nullopt},
        {9, 0, "三线制"},
        {9, 1, "四线制"},
        {9, 2, std::nullopt},
        {10, 1, "相电压"},
        {8, 6, "万度累积次数显"},
        {8, 8, std::nullopt},
        {13, 2, "19200"},
        {13, 3, std::nullopt},
        {14, 1, "奇校验"},
        {16, 0, "无变送"},
        {20, 11, "三相电流平均值变送"},
        {24, 15, "总有功变送"},
        {17, 1, "0MA10,0MA20,0V5,0V10"},
        {25, 2, std::nullopt},
        {1, 0, "0"},
        {1, 9999, "9999"},
        {2, -1, "-1"},
        {12, 247, "247"},
        {27, -32768, "-32768"},
        {11, 7, "0.7"},
        {11, 0, "0"},
        {11, 3, "0.3"},
        {11, 5, "0.5"},
        {11, 10, "1"},
        {11, 100, "10"},
        {11, -3, "-0.3"},
        {11, 32767, "3276.7"},
    };
    for (const ShownRow& row : rows) {
        const std::optional<QString> text = config::shownText(parameter(row.index), row.raw);
        const std::optional<std::string> shown =
            text ? std::optional<std::string>(utf8(*text)) : std::nullopt;
        EXPECT_EQ(shown, row.expected) << "parameter " << row.index << " raw " << row.raw;
    }
}

TEST(ShownText, GivesEveryCodeOfEveryListParameterItsDisplayText) {
    for (const Parameter& p : kParameters) {
        if (p.kind != Kind::List) {
            continue;
        }
        const auto count = static_cast<std::int32_t>(p.list->items.size());
        for (std::int32_t code = 0; code < count; ++code) {
            EXPECT_EQ(config::shownText(p, code),
                      QString::fromUtf8(p.list->items[static_cast<std::size_t>(code)].displayText))
                << p.index << " " << code;
        }
        EXPECT_EQ(config::shownText(p, count), std::nullopt) << p.index;
        EXPECT_EQ(config::shownText(p, -1), std::nullopt) << p.index;
    }
}

struct EntryRow {
    int index;
    const char* entry;
    std::optional<std::int32_t> expected;
};

TEST(EntryValue, AcceptsTheRangeOnTheUnroundedNumberAndRoundsHalfToEven) {
    const std::vector<EntryRow> rows = {
        {27, "0", std::nullopt},
        {19, "0", 0},
        {23, "0", 0},
        {27, "1", 1},
        {11, "0.7", 7},
        {11, "0.25", 2},
        {11, "0.75", 8},
        {11, "10", 100},
        {11, "10.01", std::nullopt},
        {11, "-0.01", std::nullopt},
        {1, "9999", 9999},
        {1, "9999.4", std::nullopt},
        {1, "0.4", 0},
        {1, "0.5", 0},
        {1, "1.5", 2},
        {1, "2.5", 2},
        {1, "-0.4", std::nullopt},
        {1, "12abc", 12},
        {1, "abc", 0},
        {1, " 3 9 5 ", 395},
        {1, "&H10", 16},
        {1, "1e3", 1000},
        {1, "1e999", std::nullopt},
        {12, "247", 247},
        {12, "248", std::nullopt},
        {12, "-1", std::nullopt},
        {7, "2000", 2000},
        {7, "2000.1", std::nullopt},
        {15, "60", 60},
        {15, "61", std::nullopt},
        {18, "0.9", std::nullopt},
        {18, "1", 1},
        {6, "9999", 9999},
    };
    for (const EntryRow& row : rows) {
        EXPECT_EQ(config::entryValue(parameter(row.index), QString::fromUtf8(row.entry)),
                  row.expected)
            << "parameter " << row.index << " entry '" << row.entry << "'";
    }
}

TEST(EntryValue, OfAnEmptyEntryIsZeroWhereZeroIsAccepted) {
    std::set<int> refused;
    for (const Parameter& p : kParameters) {
        if (p.kind == Kind::List) {
            continue;
        }
        const std::optional<std::int32_t> value = config::entryValue(p, u"");
        if (value) {
            EXPECT_EQ(*value, 0) << p.index;
        } else {
            refused.insert(p.index);
        }
    }
    EXPECT_EQ(refused, (std::set<int>{18, 22, 26, 27}));
}

TEST(EntryValue, OfAListIsTheNumberLeadingItsTextWithoutARangeCheck) {
    const std::vector<EntryRow> rows = {
        {0, "0:无报警", 0},
        {0, "15:合相有功报警 ", 15},
        {3, "99", 99},
        {9, "abc", 0},
        {13, "2.5", 2},
        {14, "3.5", 4},
        {8, "-3", -3},
        {17, "", 0},
        {16, "1e10", std::nullopt},
    };
    for (const EntryRow& row : rows) {
        EXPECT_EQ(config::entryValue(parameter(row.index), QString::fromUtf8(row.entry)),
                  row.expected)
            << "parameter " << row.index << " entry '" << row.entry << "'";
    }
}

TEST(EntryValue, OfEveryListItemIsItsCode) {
    for (const Parameter& p : kParameters) {
        if (p.kind != Kind::List) {
            continue;
        }
        for (std::size_t code = 0; code < p.list->items.size(); ++code) {
            EXPECT_EQ(config::entryValue(p, QString::fromUtf8(p.list->items[code].listText)),
                      static_cast<std::int32_t>(code))
                << p.index;
        }
    }
}

TEST(ReadBlocks, StartAtRegistersOneNineSeventeenAndTwentyFive) {
    EXPECT_EQ(config::kBlockCount * config::kBlockLength, 32);
    EXPECT_EQ(config::firstRegisterOfBlock(0), 1);
    EXPECT_EQ(config::firstRegisterOfBlock(1), 9);
    EXPECT_EQ(config::firstRegisterOfBlock(2), 17);
    EXPECT_EQ(config::firstRegisterOfBlock(3), 25);
}

TEST(ConfigLayout, KeepsTheCellsOfEveryPageApartAndOnThePage) {
    const QRect page = config::pageContent();
    for (int p = 0; p < config::kPageCount; ++p) {
        std::vector<QRect> cells;
        for (const Parameter& row : kParameters) {
            if (static_cast<int>(row.page) != p) {
                continue;
            }
            const config::RowCells c = config::rowCells(row.column, row.row);
            for (const QRect& cell : {c.caption, c.field, c.entry, c.button}) {
                EXPECT_TRUE(page.contains(cell)) << row.index;
                cells.push_back(cell);
            }
            EXPECT_LT(c.caption.right(), c.field.left());
            EXPECT_LT(c.field.right(), c.entry.left());
            EXPECT_LT(c.entry.right(), c.button.left());
        }
        for (std::size_t a = 0; a < cells.size(); ++a) {
            for (std::size_t b = a + 1; b < cells.size(); ++b) {
                EXPECT_FALSE(cells[a].intersects(cells[b]))
                    << "page " << p << " cells " << a << " and " << b;
            }
        }
    }
}

TEST(ConfigLayout, PutsTheReturnButtonBelowTheTabBoxInsideTheWindow) {
    const QRect window(0, 0, config::windowWidth(), config::windowHeight());
    EXPECT_TRUE(window.contains(config::tabBox()));
    EXPECT_TRUE(window.contains(config::returnButton()));
    EXPECT_GT(config::returnButton().top(), config::tabBox().bottom());
    EXPECT_GE(config::tabBox().width(), config::pageContent().width());
    EXPECT_GE(config::tabBox().height(), config::pageContent().height());
}

TEST(TickGuard, SkipsATickStartedWhileOneIsRunning) {
    common::TickGuard guard;
    int ticks = 0;
    bool innerRan = true;
    EXPECT_TRUE(guard.run([&] {
        ++ticks;
        EXPECT_TRUE(guard.running());
        innerRan = guard.run([&] { ++ticks; });
    }));
    EXPECT_FALSE(innerRan);
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(guard.running());
    EXPECT_TRUE(guard.run([&] { ++ticks; }));
    EXPECT_EQ(ticks, 2);
}

TEST(TickGuard, SurvivesItsOwnerDeletedInsideTheTick) {
    auto owner = std::make_unique<common::TickGuard>();
    common::TickGuard* guard = owner.get();
    EXPECT_TRUE(guard->run([&] { owner.reset(); }));
    EXPECT_EQ(owner, nullptr);
}

} // namespace
