#pragma once

// Meter-access library: Modbus RTU on a serial line, one call per exchange (see README.md).
// Registers and coils count from 1.

#include <stdint.h> // NOLINT(modernize-deprecated-headers): also read by C callers

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && defined(MODBUS485_BUILDING)
#define MODBUS485_API __declspec(dllexport)
#elif defined(_WIN32)
#define MODBUS485_API
#else
#define MODBUS485_API __attribute__((visibility("default")))
#endif

/// Opens or reopens port: 0, or -1 for a bad port or choice or a device it cannot have to itself.
MODBUS485_API int32_t OpenPort_Modbus(int32_t port, int32_t baudChoice, int32_t parityChoice);
/// Closes port: 0, or -1 when it was not open.
MODBUS485_API int32_t ClosePort_Modbus(int32_t port);
/// The coil, 0 or 1; on failure the last value read for port, address and coil (0 if none).
MODBUS485_API int32_t Get_0X_Bit1(int32_t port, int32_t address, int32_t coil);
/// The register, signed; on failure the last value read for port, address and register (0 if none).
MODBUS485_API int32_t Get_3X_D1(int32_t port, int32_t address, int32_t inputRegister);
/// Eight floats into dest, returning the first; on failure 0.0 and dest untouched.
MODBUS485_API float Get_3X_DR8(int32_t port, int32_t address, int32_t firstInputRegister,
                               float* dest);
/// Eight signed registers into dest: 0, or -1 on failure with dest untouched.
MODBUS485_API int32_t Get_4X_D8(int32_t port, int32_t address, int32_t firstHoldingRegister,
                                int32_t* dest);
/// Writes the low 16 bits of value: 0, or -8888 on any failure.
MODBUS485_API int32_t Set_4X_D1(int32_t port, int32_t address, int32_t holdingRegister,
                                int32_t value);

#ifdef __cplusplus
}
#endif
