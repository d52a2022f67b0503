/* The six operations of the watchdog driver's library, wdtDLL.
 *
 * On Windows the program links them by import from wdtDLL.dll, which stands
 * beside it; elsewhere from libwdtDLL.so, found by the dynamic loader.
 * Every operation returns a StatusCode: 0 is success, anything else says why
 * it failed. The library accepts calls from two threads at once. */
#ifndef WDT_DLL_H
#define WDT_DLL_H

#include <stdint.h>

typedef int32_t StatusCode;

/* WDT_DLL_BUILD is defined only while the library itself is compiled. */
#if defined(_WIN32)
#  if defined(WDT_DLL_BUILD)
#    define WDT_API
#  else
#    define WDT_API __declspec(dllimport)
#  endif
#elif defined(WDT_DLL_BUILD)
#  define WDT_API __attribute__((visibility("default")))
#else
#  define WDT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the session with the driver; called first, once. */
WDT_API StatusCode InitializeSession(void);

/* Arms the watchdog with `timeout` units: seconds when min_sec is 0. */
WDT_API StatusCode EnableTimer(uint32_t timeout, int32_t min_sec);

/* Disarms the watchdog. */
WDT_API StatusCode DisableTimer(void);

/* Reloads the armed watchdog with `value`, in the unit of its timeout. */
WDT_API StatusCode WriteTimerValue(uint32_t value);

/* Stores the watchdog's current timer value in *value. */
WDT_API StatusCode ReadTimerValue(uint32_t *value);

/* Ends the session; called last, once. */
WDT_API StatusCode CloseSession(void);

/* Not the driver's six: the stand-in's own optional operations, which
 * wdt-check looks up by name at run time (a vendor's library lacks them) and
 * does without where they are missing. */

/* Sets the pretimeout of the open session's watchdog in seconds; 0 clears it. */
typedef StatusCode (*SetPretimeoutOperation)(uint32_t seconds);
#define WDT_SET_PRETIMEOUT_NAME "SetPretimeout"

/* Called before InitializeSession by a caller that plans for a pretimeout
 * already set on the device: the session then opens a watchdog whose
 * pretimeout may act (panic the kernel) before the time left reaches 0,
 * which the library otherwise refuses. */
typedef StatusCode (*AcceptPretimeoutOperation)(void);
#define WDT_ACCEPT_PRETIMEOUT_NAME "AcceptPretimeout"

/* Describes the library's watchdog in `size` bytes at `text`, without opening
 * it: NUL-terminated lines of "key=value", first "kind=simulated" or
 * "kind=device", then for a device "node=", "identity=", "driver=" and
 * "software=1" for a timer inside the kernel, each where it is known.
 * kBadParameter where text is null or the description does not fit. */
typedef StatusCode (*DescribeWatchdogOperation)(char *text, uint32_t size);
#define WDT_DESCRIBE_WATCHDOG_NAME "DescribeWatchdog"

#ifdef __cplusplus
}
#endif

#endif /* WDT_DLL_H */
