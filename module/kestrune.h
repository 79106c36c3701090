/* Kestrune: entry rules, a UTC trading window and a GMT-offset estimate for
 * trading strategy scripts. Public interface of Kestrune.dll.
 *
 * Every export is a plain C function. On 32-bit Windows it uses stdcall (the
 * callee removes its arguments) and is exported under its undecorated name;
 * scripts resolve it by that name.
 */
#ifndef KESTRUNE_H
#define KESTRUNE_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRUNE_CALL __stdcall
#else
#define KESTRUNE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Entry rules: 1 when a position in that direction may be opened, else 0.
 * 56 bytes of arguments. */
int32_t KESTRUNE_CALL open_buy(double price_a, double price_b,
                               int32_t max_spread, int32_t gate_a,
                               double signal, double level, int32_t distance,
                               double unit, int32_t gate_b);
int32_t KESTRUNE_CALL open_sell(double price_a, double price_b,
                                int32_t max_spread, int32_t gate_a,
                                double signal, double level, int32_t distance,
                                double unit, int32_t gate_b);

/* Trading window: 1 when utc_time, seconds since 1970-01-01 00:00:00 UTC read
 * without sign (1970 to 2106), lies in the nightly window (Monday to Saturday
 * 22:00:00-22:24:59, Sunday 22:30:00-22:59:59, UTC) and not on 17 or 27
 * October or 1 or 23 November; else 0. 4 bytes of arguments. */
int32_t KESTRUNE_CALL trade_time(uint32_t utc_time);

/* GMT offset: by how many hours, in quarter-hour steps, wall_time (seconds
 * since 1970 read as if UTC) differs from GMT. Writes *offset_hours on every
 * path and returns 1 when the offset rests on the time service's answer
 * (fresh or cached for an hour), 4 when it rests on the machine's clock.
 * use_server 0 uses the clock only. 12 bytes of arguments. */
int32_t KESTRUNE_CALL GetGmtOffset(uint32_t wall_time, int32_t use_server,
                                   double* offset_hours);

#ifdef __cplusplus
}
#endif

#endif /* KESTRUNE_H */
