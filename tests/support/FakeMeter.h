#pragma once

// Scripted stand-in for the meter-access library: exports the same seven operations, answers from
// a scripted register map and records every call in order.

#include <stdint.h>

#ifdef __cplusplus
#include <string>
#include <vector>
extern "C" {
#endif

#define FAKE_METER_API __attribute__((visibility("default")))

FAKE_METER_API void fake_reset(void);
FAKE_METER_API int fake_call_count(void);
FAKE_METER_API const char* fake_call(int index);
/// Records a marker between calls (a test notes its yields this way).
FAKE_METER_API void fake_note(const char* text);
FAKE_METER_API void fake_set_input_float(int firstRegister, float value);
FAKE_METER_API void fake_set_input_word(int inputRegister, int value);
FAKE_METER_API void fake_set_coil(int coil, int value);
FAKE_METER_API void fake_set_holding(int holdingRegister, int value);
FAKE_METER_API int fake_holding(int holdingRegister);
FAKE_METER_API void fake_set_open_result(int result);
/// While on, every read fails: its destination stays untouched and scalar reads give 0.
FAKE_METER_API void fake_set_reads_fail(int on);
/// The next count writes fail with -8888.
FAKE_METER_API void fake_fail_writes(int count);

#ifdef __cplusplus
}

inline std::vector<std::string> fakeCalls() {
    std::vector<std::string> calls;
    for (int i = 0; i < fake_call_count(); ++i) {
        calls.emplace_back(fake_call(i));
    }
    return calls;
}
#endif
