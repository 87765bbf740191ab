#include "config/ParameterMap.h"
#include "common/TickGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace {

using config::Kind;
using config::kParameters;
using config::Page;
using config::Parameter;

const Parameter& parameter(int index) { return kParameters.at(static_cast<std::size_t>(index)); }

struct Caption {
    const char* text;
    int label; ///< Label1 index
};

// The caption of each parameter in index order.
const std::array<Caption, config::kParameterCount> kCaptions = {
    {{"报警一类型", 0},  {"报警1吸合值", 1}, {"报警1释放值", 2},  {"报警二类型", 8},
     {"报警2吸合值", 7}, {"报警2释放值", 6}, {"电压变比", 13},    {"电流变比", 14},
     {"显示切换", 12},   {"接线方式", 15},   {"相线选择", 19},    {"数字滤波", 17},
     {"通讯地址", 20},   {"波特率", 21},     {"校验方式", 22},    {"通讯延迟", 23},
     {"变送1内容", 11},  {"变送1类型", 26},  {"变送1上限值", 10}, {"变送1下限值", 9},
     {"变送2内容", 4},   {"变送2类型", 3},   {"变送2上限值", 5},  {"变送2下限值", 16},
     {"变送3内容", 24},  {"变送3类型", 18},  {"变送3上限值", 25}, {"变送3下限值", 27}}};

struct PageSpan {
    Page page;
    int first;
    int last;
    int rightColumnFrom; ///< first parameter of the right column, past last when there is none
};

TEST(ParameterMap, KeepsEachParameterInItsRegisterPageRowAndCaption) {
    const PageSpan spans[] = {{Page::Relay, 0, 5, 6},
                              {Page::Input, 6, 11, 12},
                              {Page::Communication, 12, 15, 16},
                              {Page::Transmitter, 16, 27, 24}};
    int next = 0;
    for (const PageSpan& span : spans) {
        ASSERT_EQ(span.first, next);
        for (int i = span.first; i <= span.last; ++i, ++next) {
            SCOPED_TRACE(i);
            const Parameter& p = parameter(i);
            const bool right = i >= span.rightColumnFrom;
            EXPECT_EQ(p.index, i);
            EXPECT_EQ(config::registerOf(p), i + 1);
            EXPECT_EQ(p.page, span.page);
            EXPECT_EQ(p.column, right ? 1 : 0);
            EXPECT_EQ(p.row, i - (right ? span.rightColumnFrom : span.first));
            EXPECT_STREQ(p.caption, kCaptions.at(static_cast<std::size_t>(i)).text);
            EXPECT_EQ(p.captionIndex, kCaptions.at(static_cast<std::size_t>(i)).label);
            EXPECT_EQ(p.enabled, i != 6) << "only the voltage ratio cannot be written";
        }
    }
    EXPECT_EQ(next, config::kParameterCount);
}

TEST(ParameterMap, FindsParametersOnlyFromZeroToTwentySeven) {
    EXPECT_EQ(config::parameterAt(0), &kParameters.front());
    EXPECT_EQ(config::parameterAt(27), &kParameters.back());
    for (const long long index : {-1LL, 28LL, 31LL, 100LL, -32768LL}) {
        EXPECT_EQ(config::parameterAt(index), nullptr) << index;
    }
}

struct ListParameter {
    int index;
    const char* entry;
    const config::ChoiceList* list;
};

const ListParameter kListParameters[] = {
    {0, "Combo22", &config::kAlarmTypeList},
    {3, "Combo23", &config::kAlarmTypeList},
    {8, "Combo11", &config::kDisplayModeList},
    {9, "Combo12", &config::kWiringList},
    {10, "Combo17", &config::kLinePhaseList},
    {13, "Combo19", &config::kBaudList},
    {14, "Combo20", &config::kParityList},
    {16, "Combo8", &config::kTransmitterQuantityList},
    {17, "Combo1", &config::kTransmitterTypeList},
    {20, "Combo3", &config::kTransmitterQuantityList},
    {21, "Combo2", &config::kTransmitterTypeList},
    {24, "Combo5", &config::kTransmitterQuantityList},
    {25, "Combo4", &config::kTransmitterTypeList},
};

struct Range {
    int index;
    int lower;
    int upper;
};

// Every typed parameter accepts 0..9999 unless it is listed here.
const Range kNarrowerRanges[] = {{7, 0, 2000},  {11, 0, 10},   {12, 0, 247},  {15, 0, 60},
                                 {18, 1, 9999}, {22, 1, 9999}, {26, 1, 9999}, {27, 1, 9999}};

std::optional<std::int32_t> entered(const Parameter& p, int number) {
    return config::entryValue(p, QString::number(number));
}

TEST(ParameterMap, EntersEachParameterByItsOwnListOrWithinItsOwnRange) {
    for (const Parameter& p : kParameters) {
        SCOPED_TRACE(p.index);
        const auto* list = std::find_if(std::begin(kListParameters), std::end(kListParameters),
                                        [&](const ListParameter& l) { return l.index == p.index; });
        if (list != std::end(kListParameters)) {
            EXPECT_EQ(p.kind, Kind::List);
            EXPECT_STREQ(p.listName, list->entry);
            ASSERT_EQ(p.list, list->list);
            // The field shows the display text of a code and nothing past the list; an item's
            // text writes its code.
            const auto count = static_cast<std::int32_t>(p.list->items.size());
            for (std::int32_t code = 0; code < count; ++code) {
                const config::ChoiceItem& item = p.list->items[static_cast<std::size_t>(code)];
                EXPECT_EQ(config::shownText(p, code), QString::fromUtf8(item.displayText));
                EXPECT_EQ(config::entryValue(p, QString::fromUtf8(item.listText)), code);
            }
            EXPECT_EQ(config::shownText(p, count), std::nullopt);
            EXPECT_EQ(config::shownText(p, -1), std::nullopt);
            continue;
        }
        const auto* narrower = std::find_if(std::begin(kNarrowerRanges), std::end(kNarrowerRanges),
                                            [&](const Range& r) { return r.index == p.index; });
        const Range range =
            narrower != std::end(kNarrowerRanges) ? *narrower : Range{p.index, 0, 9999};
        const int scale = p.index == 11 ? 10 : 1;
        EXPECT_EQ(p.kind, scale == 10 ? Kind::Tenths : Kind::Numeric);
        EXPECT_EQ(p.listName, nullptr);
        EXPECT_EQ(p.list, nullptr);
        EXPECT_EQ(entered(p, range.lower), range.lower * scale);
        EXPECT_EQ(entered(p, range.upper), range.upper * scale);
        EXPECT_EQ(entered(p, range.lower - 1), std::nullopt);
        EXPECT_EQ(entered(p, range.upper + 1), std::nullopt);
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

struct ListTexts {
    const config::ChoiceList* list;
    const char* name;
    std::vector<const char*> tails; ///< list texts in code order, past "code:"
};

// Display texts are the list texts without the code and the trailing blank, but for these.
struct DisplayException {
    const config::ChoiceList* list;
    int code;
    const char* display;
};

TEST(ChoiceLists, HoldTheirListAndDisplayTextsInCodeOrderTrailingBlanksIncluded) {
    const ListTexts lists[] = {
        {&config::kAlarmTypeList,
         "AlarmTypeList",
         {"无报警", "三相电压平均值报警 ", "A相电压报警 ", "B相电压报警 ", "C相电压报警 ",
          "AB线电压报警 ", "BC线电压报警", "CA线电压报警 ", "A相电流报警 ", "B相电流报警 ",
          "C相电流报警 ", "合相电流平均值报警 ", "A相有功报警", "B相有功报警 ", "C相有功报警 ",
          "合相有功报警 "}},
        {&config::kTransmitterQuantityList,
         "TransmitterQuantityList",
         {"无", "三相电压平均值变送 ", "A相电压变送 ", "B相电压变送 ", "C相电压变送 ",
          "AB线电压变送 ", "BC线电压变送", "CA线电压变送 ", "A相电流变送 ", "B相电流变送 ",
          "C相电流变送 ", "合相电流平均值变送 ", "A相有功变送", "B相有功变送 ", "C相有功变送 ",
          "合相有功变送 "}},
        {&config::kTransmitterTypeList,
         "TransmitterTypeList",
         {"4MA20,1V5", "0MA10,0MA20,0V5,0V10 "}},
        {&config::kDisplayModeList,
         "DisplayModeList",
         {"三相电压", "三相电流 ", "三相有功功率 ", "频率 ", "分相有功功率 ", "电能 ",
          "万度累积次数 ", "轮显 "}},
        {&config::kWiringList, "WiringList", {"三线制", "四线制 "}},
        {&config::kLinePhaseList, "LinePhaseList", {"线电压", "相电压 "}},
        {&config::kBaudList, "BaudList", {"4800", "9600 ", "19200 "}},
        {&config::kParityList, "ParityList", {"无校验", "奇校验 ", "偶校验 "}},
    };
    const DisplayException exceptions[] = {
        {&config::kAlarmTypeList, 11, "三相电流平均值报警"},
        {&config::kAlarmTypeList, 15, "总有功报警"},
        {&config::kTransmitterQuantityList, 0, "无变送"},
        {&config::kTransmitterQuantityList, 11, "三相电流平均值变送"},
        {&config::kTransmitterQuantityList, 15, "总有功变送"},
        {&config::kDisplayModeList, 6, "万度累积次数显"},
    };
    for (const ListTexts& expected : lists) {
        SCOPED_TRACE(expected.name);
        EXPECT_STREQ(expected.list->name, expected.name);
        ASSERT_EQ(expected.list->items.size(), expected.tails.size());
        for (std::size_t code = 0; code < expected.tails.size(); ++code) {
            const std::string tail = expected.tails[code];
            std::string display = tail.substr(0, tail.find_last_not_of(' ') + 1);
            for (const DisplayException& exception : exceptions) {
                if (exception.list == expected.list && exception.code == static_cast<int>(code)) {
                    display = exception.display;
                }
            }
            EXPECT_EQ(expected.list->items[code].listText, std::to_string(code) + ":" + tail);
            EXPECT_EQ(expected.list->items[code].displayText, display) << code;
        }
    }
}

struct ShownRow {
    int index;
    std::int32_t raw;
    const char* expected;
};

TEST(ShownText, IsTheDecimalOrTheTenthsInGeneralForm) {
    const ShownRow rows[] = {{1, 0, "0"},          {1, 9999, "9999"},      {2, -1, "-1"},
                             {12, 247, "247"},     {27, -32768, "-32768"}, {11, 7, "0.7"},
                             {11, 0, "0"},         {11, 3, "0.3"},         {11, 5, "0.5"},
                             {11, 10, "1"},        {11, 100, "10"},        {11, -3, "-0.3"},
                             {11, 32767, "3276.7"}};
    for (const ShownRow& row : rows) {
        EXPECT_EQ(config::shownText(parameter(row.index), row.raw), QString::fromUtf8(row.expected))
            << "parameter " << row.index << " raw " << row.raw;
    }
}

struct EntryRow {
    int index;
    const char* entry;
    std::optional<std::int32_t> expected;
};

void expectEntries(std::span<const EntryRow> rows) {
    for (const EntryRow& row : rows) {
        EXPECT_EQ(config::entryValue(parameter(row.index), QString::fromUtf8(row.entry)),
                  row.expected)
            << "parameter " << row.index << " entry '" << row.entry << "'";
    }
}

constexpr std::nullopt_t kRefused = std::nullopt;

TEST(EntryValue, AcceptsTheRangeOnTheUnroundedNumberAndRoundsHalfToEven) {
    const EntryRow rows[] = {{11, "0.7", 7},          {11, "0.25", 2},
                             {11, "0.75", 8},         {11, "10.01", kRefused},
                             {11, "-0.01", kRefused}, {1, "9999.4", kRefused},
                             {7, "2000.1", kRefused}, {18, "0.9", kRefused},
                             {1, "-0.4", kRefused},   {1, "0.4", 0},
                             {1, "0.5", 0},           {1, "1.5", 2},
                             {1, "2.5", 2},           {1, "12abc", 12},
                             {1, "abc", 0},           {1, " 3 9 5 ", 395},
                             {1, "&H10", 16},         {1, "1e3", 1000},
                             {1, "1e999", kRefused},  {1, "", 0},
                             {18, "", kRefused}};
    expectEntries(rows);
}

TEST(EntryValue, OfAListIsTheNumberLeadingItsTextWithoutARangeCheck) {
    const EntryRow rows[] = {{0, "0:无报警", 0},    {0, "15:合相有功报警 ", 15},
                             {3, "99", 99},         {9, "abc", 0},
                             {13, "2.5", 2},        {14, "3.5", 4},
                             {8, "-3", -3},         {17, "", 0},
                             {16, "1e10", kRefused}};
    expectEntries(rows);
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
