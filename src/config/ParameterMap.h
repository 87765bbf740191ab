#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace config {

/// The pages of SSTab1 in tab order.
enum class Page : int { Relay = 0, Transmitter = 1, Input = 2, Communication = 3 };

inline constexpr int kPageCount = 4;
inline constexpr std::array<const char*, kPageCount> kPageTitles = {"继电器", "变送", "输入",
                                                                    "通讯"};
inline constexpr Page kOpeningPage = Page::Input;

/// How a parameter is entered and kept in its register.
enum class Kind {
    Numeric, ///< the number itself, typed into D_4wT(i)
    Tenths,  ///< the number in tenths, typed into D_4wT(i)
    List,    ///< the code of a list item, chosen in a named list
};

/// One item of a choice list: the text the list offers and the text the current-value field shows.
struct ChoiceItem {
    const char* listText;
    const char* displayText;
};

/// A choice list; the code of an item is its position.
struct ChoiceList {
    const char* name;
    std::span<const ChoiceItem> items;
};

extern const ChoiceList kAlarmTypeList;
extern const ChoiceList kTransmitterQuantityList;
extern const ChoiceList kTransmitterTypeList;
extern const ChoiceList kDisplayModeList;
extern const ChoiceList kWiringList;
extern const ChoiceList kLinePhaseList;
extern const ChoiceList kBaudList;
extern const ChoiceList kParityList;

/// One of the meter's configuration parameters and its row in the window.
struct Parameter {
    int index; ///< also D_4WRW, D_4wT and Command3 index; holding register index + 1
    Page page;
    int column; ///< 0, or 1 for the right column of the transmitter page
    int row;    ///< row within its page column
    const char* caption;
    int captionIndex; ///< Label1 index of the caption
    Kind kind;
    const char* listName;   ///< entry list of a list parameter, nullptr for typed ones
    const ChoiceList* list; ///< nullptr for typed parameters
    int lower;              ///< accepted entry, inclusive, typed parameters only
    int upper;
    bool enabled; ///< false: the value field, entry and button of the row are disabled
};

inline constexpr int kParameterCount = 28;
extern const std::array<Parameter, kParameterCount> kParameters;

/// Order in which the window fills its lists when it is loaded (parameter indices).
extern const std::array<int, 13> kListFillOrder;

/// The parameter registers are read in four blocks of eight.
inline constexpr int kBlockCount = 4;
inline constexpr int kBlockLength = 8;
inline constexpr int firstRegisterOfBlock(int block) { return block * kBlockLength + 1; }

/// The parameter at index, or nullptr outside 0..27.
const Parameter* parameterAt(long long index);

inline constexpr int registerOf(const Parameter& parameter) { return parameter.index + 1; }

/// Text of a raw register value for the current-value field; empty when the field keeps its text
/// (a code outside the parameter's list).
std::optional<QString> shownText(const Parameter& parameter, std::int32_t raw);

/// Register value that an entry writes; empty when the entry is refused (out of range, or a
/// number that does not fit). Lists are not range checked: the number leading their text counts.
std::optional<std::int32_t> entryValue(const Parameter& parameter, QStringView entry);

} // namespace config
