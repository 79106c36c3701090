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

#ifdef __cplusplus
}
#endif

#endif /* KESTRUNE_H */
