#pragma once

/* Meter-access library: Modbus RTU on a serial line, one call per exchange.

   A late answer is never another request's answer.
   In RTU nothing in an answer names the request it belongs to: two reads of the same function and
   length answer alike. A meter answers its requests in order, one at a time, or drops them. So the
   library keeps, per port, the requests it sent whose answer has not come, each with the shape of
   its answer (address, function and byte count; a write's whole echo). An answer that arrives
   settles the oldest unsettled request of its shape and every request before it. A request is sent
   only when no unsettled request shares its answer's shape, so any answer of that shape is its own.
   When one does, the call first sends a sync: a short read from register 1 of a length no call of
   the library uses (holding or input registers, a shape no unsettled request has where possible).
   Once its answer is in, nothing older can still come, and the call sends its own request. While
   the meter is silent the sync simply goes unanswered and the call fails.
   A request the meter dropped is settled by the line: a meter takes at most 3 s over an answer
   once it takes a request, so a request that old, with the line silent as long, will not be
   answered any more. Before the port was opened anything may have been sent, so the first call
   after an open syncs too.
   No request piles onto a meter seen working through older ones: once an answer has come for a
   request sent before the newest unsettled one, calls wait for that one instead of queueing more
   behind it. While nothing has been answered since the newest went out, the meter may have dropped
   it, and asking again is what makes a meter that comes back after silence answer at once.

   Learned timeout. A response timeout of 200 ms serves a prompt meter. A late answer caught gives
   its age, and the timeout of the following requests on that port grows to cover it with a
   quarter more (at most 1.5 s), so a meter that is always late is read in its own exchange; after
   twenty answered calls it shrinks back to what those needed, and an open starts afresh.
   A call waits at most its timeout plus the wire time of its exchange (and of a sync). Nothing
   waits for the line to fall quiet.

   A failed read leaves its destination untouched; the scalar reads then return the value last read
   for that port, address and coil or register (0 if none), so a relay that is ON is never reported
   OFF because the line went quiet.

   One master per port: the device is locked with flock while open, and a real serial device also
   with TIOCEXCL (not a pseudo-terminal, whose far end outlives a master that dies holding it);
   another process's open fails, a reopen in the same process works. */

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
