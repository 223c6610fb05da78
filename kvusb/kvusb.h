/*
 * kvusb: the transport library between Korvane and the programmer.
 *
 * It finds the programmer on the USB bus, learns its pipes, moves raw byte
 * blocks to and from them and downloads firmware into the programmer's
 * EZ-USB micro-controller. The program loads it at run time from the "dll"
 * folder beside its executable and binds these six functions by name.
 *
 * The library holds one device at a time and is called from one thread at a
 * time.
 */
#ifndef KVUSB_H
#define KVUSB_H

#ifdef __cplusplus
extern "C" {
#endif

#define KVUSB_EXPORT __attribute__((visibility("default")))

/* Reads up to `length` bytes from pipe `pipe` (0-7). Bytes read, or -1. */
KVUSB_EXPORT int func1(int pipe, unsigned char *buffer, int length);
/* Writes `length` bytes to pipe `pipe` (0-7). Bytes written, or -1. */
KVUSB_EXPORT int func2(int pipe, unsigned char *buffer, int length);
/*
 * Downloads a firmware image: an array of 22-byte records (length, padding,
 * load address little-endian, type 0 data / 1 end, 16 data bytes, padding)
 * ended by a record of type 1. `force` non-zero downloads even when firmware
 * already runs. 0 = failed or no device, 1 = downloaded (the device is closed
 * and re-enumerating), 2 = firmware already running (the device is closed).
 */
KVUSB_EXPORT int func3(const void *records, unsigned char force);
/* Opens the programmer: 0 = none or failed, 1 = open, 2 = open, vendor 0x0547. */
KVUSB_EXPORT int func4(void);
/* Closes the device: non-zero when a device was open, else 0. */
KVUSB_EXPORT int func5(void);
/* Maximum packet size of pipe 1: 512 on a high-speed link, 0 before any table. */
KVUSB_EXPORT int func6(void);

#ifdef __cplusplus
}
#endif

#endif
