#pragma once

/* Meter-access library: Modbus RTU on a serial line, one call per exchange. */

#include <stdint.h> // NOLINT(modernize-deprecated-headers): also read by C callers

#ifdef __cplusplus
extern "C" {
#endif

#define MODBUS485_API __attribute__((visibility("default")))

MODBUS485_API int32_t OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice);
MODBUS485_API int32_t ClosePort_Modbus(int32_t port);
MODBUS485_API int32_t Get_0X_Bit1(int32_t port, int32_t address, int32_t coil);
MODBUS485_API int32_t Get_3X_D1(int32_t port, int32_t address, int32_t inputRegister);
MODBUS485_API float Get_3X_DR8(int32_t port, int32_t address, int32_t firstInputRegister,
                               float* dest);
MODBUS485_API int32_t Get_4X_D8(int32_t port, int32_t address, int32_t firstHoldingRegister,
                                int32_t* dest);
MODBUS485_API int32_t Set_4X_D1(int32_t port, int32_t address, int32_t holdingRegister,
                                int32_t value);

#ifdef __cplusplus
}
#endif
