#include "common/ReadingCatalogue.h"

#include "common/NumberText.h"

namespace common {

const std::array<Reading, kReadingCount> kReadingCatalogue = {{
    {0, "Uab", "Uab", TextForm::Fixed},
    {1, "Ubc", "Ubc", TextForm::Fixed},
    {2, "Uca", "Uca", TextForm::Fixed},
    {3, "IA", "IA", TextForm::Fixed},
    {4, "IB", "IB", TextForm::Fixed},
    {5, "IC", "IC", TextForm::Fixed},
    {6, "PA", "A相有功", TextForm::Fixed},
    {7, "PB", "B相有功", TextForm::Fixed},
    {8, "PC", "C相有功", TextForm::Fixed},
    {9, "P", "合相有功", TextForm::Fixed},
    {10, "F", "频率", TextForm::Fixed},
    {11, "AO1", "变送一", TextForm::Fixed},
    {12, "AO2", "变送二", TextForm::Fixed},
    {13, "AO3", "变送三", TextForm::Fixed},
    {14, "EP", "三相电能", TextForm::General},
    {15, "C1", "C1累积次数", TextForm::General},
}};

std::optional<QString> readingText(float value, TextForm form) {
    return form == TextForm::Fixed ? fixedForm(value) : generalForm(value);
}

} // namespace common
