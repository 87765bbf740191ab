#include "config/ParameterMap.h"

#include "common/NumberText.h"

namespace config {

namespace {

constexpr ChoiceItem kAlarmTypes[] = {
    {"0:无报警", "无报警"},
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
    {"15:合相有功报警 ", "总有功报警"},
};

constexpr ChoiceItem kTransmitterQuantities[] = {
    {"0:无", "无变送"},
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
    {"15:合相有功变送 ", "总有功变送"},
};

constexpr ChoiceItem kTransmitterTypes[] = {
    {"0:4MA20,1V5", "4MA20,1V5"},
    {"1:0MA10,0MA20,0V5,0V10 ", "0MA10,0MA20,0V5,0V10"},
};

constexpr ChoiceItem kDisplayModes[] = {
    {"0:三相电压", "三相电压"},
    {"1:三相电流 ", "三相电流"},
    {"2:三相有功功率 ", "三相有功功率"},
    {"3:频率 ", "频率"},
    {"4:分相有功功率 ", "分相有功功率"},
    {"5:电能 ", "电能"},
    {"6:万度累积次数 ", "万度累积次数显"},
    {"7:轮显 ", "轮显"},
};

constexpr ChoiceItem kWirings[] = {{"0:三线制", "三线制"}, {"1:四线制 ", "四线制"}};
constexpr ChoiceItem kLinePhases[] = {{"0:线电压", "线电压"}, {"1:相电压 ", "相电压"}};
constexpr ChoiceItem kBauds[] = {{"0:4800", "4800"}, {"1:9600 ", "9600"}, {"2:19200 ", "19200"}};
constexpr ChoiceItem kParities[] = {
    {"0:无校验", "无校验"}, {"1:奇校验 ", "奇校验"}, {"2:偶校验 ", "偶校验"}};

constexpr int kTenths = 10;

} // namespace

const ChoiceList kAlarmTypeList{"AlarmTypeList", kAlarmTypes};
const ChoiceList kTransmitterQuantityList{"TransmitterQuantityList", kTransmitterQuantities};
const ChoiceList kTransmitterTypeList{"TransmitterTypeList", kTransmitterTypes};
const ChoiceList kDisplayModeList{"DisplayModeList", kDisplayModes};
const ChoiceList kWiringList{"WiringList", kWirings};
const ChoiceList kLinePhaseList{"LinePhaseList", kLinePhases};
const ChoiceList kBaudList{"BaudList", kBauds};
const ChoiceList kParityList{"ParityList", kParities};

namespace {

using enum Page;
using enum Kind;

constexpr Parameter typed(int index, Page page, int column, int row, const char* caption,
                          int captionIndex, int lower, int upper, Kind kind = Numeric,
                          bool enabled = true) {
    return {index, page,    column,  row,   caption, captionIndex,
            kind,  nullptr, nullptr, lower, upper,   enabled};
}

Parameter chosen(int index, Page page, int column, int row, const char* caption, int captionIndex,
                 const char* listName, const ChoiceList& list) {
    return {index, page, column, row, caption, captionIndex, List, listName, &list, 0, 0, true};
}

} // namespace

const std::array<Parameter, kParameterCount> kParameters = {{
    chosen(0, Relay, 0, 0, "报警一类型", 0, "Combo22", kAlarmTypeList),
    typed(1, Relay, 0, 1, "报警1吸合值", 1, 0, 9999),
    typed(2, Relay, 0, 2, "报警1释放值", 2, 0, 9999),
    chosen(3, Relay, 0, 3, "报警二类型", 8, "Combo23", kAlarmTypeList),
    typed(4, Relay, 0, 4, "报警2吸合值", 7, 0, 9999),
    typed(5, Relay, 0, 5, "报警2释放值", 6, 0, 9999),
    typed(6, Input, 0, 0, "电压变比", 13, 0, 9999, Numeric, false),
    typed(7, Input, 0, 1, "电流变比", 14, 0, 2000),
    chosen(8, Input, 0, 2, "显示切换", 12, "Combo11", kDisplayModeList),
    chosen(9, Input, 0, 3, "接线方式", 15, "Combo12", kWiringList),
    chosen(10, Input, 0, 4, "相线选择", 19, "Combo17", kLinePhaseList),
    typed(11, Input, 0, 5, "数字滤波", 17, 0, 10, Tenths),
    typed(12, Communication, 0, 0, "通讯地址", 20, 0, 247),
    chosen(13, Communication, 0, 1, "波特率", 21, "Combo19", kBaudList),
    chosen(14, Communication, 0, 2, "校验方式", 22, "Combo20", kParityList),
    typed(15, Communication, 0, 3, "通讯延迟", 23, 0, 60),
    chosen(16, Transmitter, 0, 0, "变送1内容", 11, "Combo8", kTransmitterQuantityList),
    chosen(17, Transmitter, 0, 1, "变送1类型", 26, "Combo1", kTransmitterTypeList),
    typed(18, Transmitter, 0, 2, "变送1上限值", 10, 1, 9999),
    typed(19, Transmitter, 0, 3, "变送1下限值", 9, 0, 9999),
    chosen(20, Transmitter, 0, 4, "变送2内容", 4, "Combo3", kTransmitterQuantityList),
    chosen(21, Transmitter, 0, 5, "变送2类型", 3, "Combo2", kTransmitterTypeList),
    typed(22, Transmitter, 0, 6, "变送2上限值", 5, 1, 9999),
    typed(23, Transmitter, 0, 7, "变送2下限值", 16, 0, 9999),
    chosen(24, Transmitter, 1, 0, "变送3内容", 24, "Combo5", kTransmitterQuantityList),
    chosen(25, Transmitter, 1, 1, "变送3类型", 18, "Combo4", kTransmitterTypeList),
    typed(26, Transmitter, 1, 2, "变送3上限值", 25, 1, 9999),
    typed(27, Transmitter, 1, 3, "变送3下限值", 27, 1, 9999),
}};

const std::array<int, 13> kListFillOrder = {8, 0, 3, 16, 17, 20, 21, 24, 25, 9, 10, 13, 14};

const Parameter* parameterAt(long long index) {
    if (index < 0 || index >= kParameterCount) {
        return nullptr;
    }
    return &kParameters[static_cast<std::size_t>(index)];
}

std::optional<QString> shownText(const Parameter& parameter, std::int32_t raw) {
    switch (parameter.kind) {
    case Numeric:
        return common::integerText(raw);
    case Tenths:
        return common::generalForm(static_cast<float>(raw / static_cast<double>(kTenths)));
    case List:
        if (parameter.list == nullptr || raw < 0 ||
            raw >= static_cast<std::int64_t>(parameter.list->items.size())) {
            return std::nullopt;
        }
        return QString::fromUtf8(parameter.list->items[static_cast<std::size_t>(raw)].displayText);
    }
    return std::nullopt;
}

std::optional<std::int32_t> entryValue(const Parameter& parameter, QStringView entry) {
    const std::optional<double> number = common::readNumber(entry);
    if (!number) {
        return std::nullopt;
    }
    if (parameter.kind == List) {
        return common::roundToInt32(*number);
    }
    // The range is tested on the number as typed: 9999.4 is refused, not rounded into range.
    if (*number > parameter.upper || *number < parameter.lower) {
        return std::nullopt;
    }
    return common::roundToInt32(parameter.kind == Tenths ? *number * kTenths : *number);
}

} // namespace config
