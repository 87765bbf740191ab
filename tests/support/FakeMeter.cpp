#include "FakeMeter.h"

#include "modbus485.h"

#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Script {
    std::vector<std::string> calls;
    std::map<int, float> inputFloats;
    std::map<int, int> inputWords;
    std::map<int, int> coils;
    std::map<int, int> holding;
    int openResult = 0;
    bool readsFail = false;
    int failingWrites = 0;
};

Script& script() {
    static Script s;
    return s;
}

void record(const char* name, std::initializer_list<int32_t> args) {
    std::string text = name;
    text += '(';
    bool first = true;
    for (int32_t a : args) {
        if (!first) {
            text += ',';
        }
        text += std::to_string(a);
        first = false;
    }
    text += ')';
    script().calls.push_back(text);
}

} // namespace

extern "C" {

void fake_reset(void) { script() = Script{}; }
int fake_call_count(void) { return static_cast<int>(script().calls.size()); }
const char* fake_call(int index) {
    const auto& calls = script().calls;
    return index >= 0 && index < static_cast<int>(calls.size())
               ? calls[static_cast<size_t>(index)].c_str()
               : "";
}
void fake_note(const char* text) { script().calls.emplace_back(text); }
void fake_set_input_float(int firstRegister, float value) {
    script().inputFloats[firstRegister] = value;
}
void fake_set_input_word(int inputRegister, int value) {
    script().inputWords[inputRegister] = value;
}
void fake_set_coil(int coil, int value) { script().coils[coil] = value; }
void fake_set_holding(int holdingRegister, int value) { script().holding[holdingRegister] = value; }
int fake_holding(int holdingRegister) { return script().holding[holdingRegister]; }
void fake_set_open_result(int result) { script().openResult = result; }
void fake_set_reads_fail(int on) { script().readsFail = on != 0; }
void fake_fail_writes(int count) { script().failingWrites = count; }

int32_t OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice) {
    record("OpenPort_Modbus", {port, baudChoice, parityChoice});
    return script().openResult;
}

int32_t ClosePort_Modbus(int32_t port) {
    record("ClosePort_Modbus", {port});
    return 0;
}

int32_t Get_0X_Bit1(int32_t port, int32_t address, int32_t coil) {
    record("Get_0X_Bit1", {port, address, coil});
    return script().readsFail ? 0 : script().coils[coil];
}

int32_t Get_3X_D1(int32_t port, int32_t address, int32_t inputRegister) {
    record("Get_3X_D1", {port, address, inputRegister});
    return script().readsFail ? 0 : script().inputWords[inputRegister];
}

float Get_3X_DR8(int32_t port, int32_t address, int32_t firstInputRegister, float* dest) {
    record("Get_3X_DR8", {port, address, firstInputRegister});
    if (script().readsFail || dest == nullptr) {
        return 0;
    }
    for (int i = 0; i < 8; ++i) {
        dest[i] = script().inputFloats[firstInputRegister + 2 * i];
    }
    return 0;
}

int32_t Get_4X_D8(int32_t port, int32_t address, int32_t firstHoldingRegister, int32_t* dest) {
    record("Get_4X_D8", {port, address, firstHoldingRegister});
    if (script().readsFail || dest == nullptr) {
        return 0;
    }
    for (int i = 0; i < 8; ++i) {
        dest[i] = script().holding[firstHoldingRegister + i];
    }
    return 0;
}

int32_t Set_4X_D1(int32_t port, int32_t address, int32_t holdingRegister, int32_t value) {
    record("Set_4X_D1", {port, address, holdingRegister, value});
    if (script().failingWrites > 0) {
        --script().failingWrites;
        return -8888;
    }
    script().holding[holdingRegister] = value;
    return 0;
}

} // extern "C"
