#pragma once

// The simulated meter's parameters as it starts, and the texts the current-value fields show for
// them: every field differs from the text it would show for a zero register.

#include <array>

namespace vx310test {

inline constexpr std::array<int, 28> kMeterParameters = {
    5, 390, 385, 8, 6, 5, 1, 1, 7, 1, 0, 5, 1, 1, 0, 0, 5, 0, 500, 0, 8, 0, 10, 0, 15, 1, 5000, 1};

inline constexpr std::array<const char*, 28> kMeterParameterTexts = {"AB线电压报警",
                                                                     "390",
                                                                     "385",
                                                                     "A相电流报警",
                                                                     "6",
                                                                     "5",
                                                                     "1",
                                                                     "1",
                                                                     "轮显",
                                                                     "四线制",
                                                                     "线电压",
                                                                     "0.5",
                                                                     "1",
                                                                     "9600",
                                                                     "无校验",
                                                                     "0",
                                                                     "AB线电压变送",
                                                                     "4MA20,1V5",
                                                                     "500",
                                                                     "0",
                                                                     "A相电流变送",
                                                                     "4MA20,1V5",
                                                                     "10",
                                                                     "0",
                                                                     "总有功变送",
                                                                     "0MA10,0MA20,0V5,0V10",
                                                                     "5000",
                                                                     "1"};

} // namespace vx310test
