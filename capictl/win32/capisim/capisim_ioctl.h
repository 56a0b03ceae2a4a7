/* The substitute driver's control device and its requests (shared by capisim.sys and capisim.exe). */
#pragma once

#define CAPISIM_SERVICE "ZevraCapiDrv"
#define CAPISIM_CONTROL_DEVICE "CapiSimCtl"
#define CAPISIM_DEFAULT_DEVICE "CAPI201"
/* The service key's value naming the CAPI device (not under "Parameters", which belongs to the tests). */
#define CAPISIM_DEVICE_VALUE "DeviceName"

/* Device type 0x8001, buffered, any access. */
#define CAPISIM_IOCTL_PUSH 0x80012400u /* input: the new status buffer, at most 64 KiB */
#define CAPISIM_IOCTL_LOG 0x80012404u /* output: every control buffer received, back to back */
#define CAPISIM_IOCTL_FAIL 0x80012408u /* input: 4 bytes, 1 fail every status request, 0 answer again */

#define CAPISIM_MAX_STATUS 65536u
#define CAPISIM_MAX_LOG (4u << 20)
