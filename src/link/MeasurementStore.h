#pragma once

#include "common/BoundedArray.h"

#include <cstdint>

namespace meterlink {

/// Slots of PortSet that carry a meaning.
enum PortSetSlot : int {
    kPortNumber = 0,
    kBaudChoice = 1,
    kParityChoice = 2,
    kMeterAddress = 3,
    kListParamValue = 19,
    kOpenResult = 20,
    kTypedParamValue = 21,
};

/// MeterReg slot that receives input register 201 (the model code).
inline constexpr int kModelCodeSlot = 25;

/// The arrays through which the meter link hands its data to every window.
struct MeasurementStore {
    common::BoundedArray<std::int32_t, 0, 500> PortSet;
    common::BoundedArray<float, 0, 500> MeterReg;
    common::BoundedArray<float, 0, 300> LiveVal;
    common::BoundedArray<std::int32_t, 0, 100> AlarmCoil;
};

/// Process-wide state: created once at start-up and handed to each window.
struct SharedState {
    MeasurementStore store;
    /// True while the main window is loaded; the recorder announces snapshots only then.
    bool mainWindowLoaded = false;
    /// Raised by the recorder after each stored snapshot, cleared by the main window's display.
    bool newRecordReady = false;
    /// Value at the top of the trend chart's vertical axis.
    std::int16_t yFullScale = 0;
};

} // namespace meterlink
