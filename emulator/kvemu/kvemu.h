/*
 * kvemu: the emulated programmer as a drop-in for the transport library.
 *
 * libkvemu.so exports func1-func6 with exactly the arguments, results and
 * behaviour of kvusb (see kvusb/kvusb.h): copied into the program's "dll"
 * folder as libkvusb.so, it lets the unchanged program drive an emulated
 * programmer. The emulator reads its profile from the INI file named by
 * KVEMU_CONFIG at first use (an empty socket without it) and appends its
 * command log to the file named by KVEMU_LOG.
 *
 * The kvemu_* functions are for tests in the same process; the program
 * never calls them.
 */
#ifndef KVEMU_H
#define KVEMU_H

#ifdef __cplusplus
extern "C" {
#endif

#define KVEMU_EXPORT __attribute__((visibility("default")))

KVEMU_EXPORT int func1(int pipe, unsigned char *buffer, int length);
KVEMU_EXPORT int func2(int pipe, unsigned char *buffer, int length);
KVEMU_EXPORT int func3(const void *records, unsigned char force);
KVEMU_EXPORT int func4(void);
KVEMU_EXPORT int func5(void);
KVEMU_EXPORT int func6(void);

/* Replaces the emulated programmer by one built from `profile` (INI text;
 * relative image paths start in the current folder). The library returns to
 * its state at load (closed, pipe table unread). 1 on success; 0 on error
 * (kvemu_last_error says why, the command log gets an ERROR line, and no
 * programmer is present until the next successful call). */
KVEMU_EXPORT int kvemu_configure(const char *profile);
/* Builds the programmer again from the last profile (that of KVEMU_CONFIG
 * before any kvemu_configure); the image file keeps its contents. 1 or 0. */
KVEMU_EXPORT int kvemu_reset(void);
/* The reason of the last failed call, or "". */
KVEMU_EXPORT const char *kvemu_last_error(void);
/* Copies `length` bytes of chip `chip` (NAND: chip enable, serial: 0) from
 * `offset`, as the chip addresses them; bytes copied, or -1 without such a chip. */
KVEMU_EXPORT long long kvemu_read_chip(int chip, unsigned long long offset, unsigned char *buffer,
                                       unsigned long long length);
/* Size of that chip's array in bytes, 0 without such a chip. */
KVEMU_EXPORT long long kvemu_chip_size(int chip);
/* Overwrites `length` bytes of chip `chip` from `offset`, addressed as
 * kvemu_read_chip reads them (NAND: data and spare page after page), whatever
 * the chip would allow (bits may be set, bad-block marks changed); bytes past
 * the chip are dropped. Bytes written, or -1 without such a chip. */
KVEMU_EXPORT long long kvemu_write_chip(int chip, unsigned long long offset,
                                        const unsigned char *buffer, unsigned long long length);
/* Which chip sits in the socket: 0 the profile's [chip], 1 its [second_chip].
 * The two change places on each re-initialisation (see emulator/README.md);
 * kvemu_read_chip, kvemu_write_chip and kvemu_chip_size reach the one in the
 * socket. */
KVEMU_EXPORT int kvemu_socket_chip(void);
/* Swaps the chips now, as a re-initialisation does (the command log gets its
 * SOCKET line). 1 when done, 0 without a second chip. */
KVEMU_EXPORT int kvemu_swap_chip(void);
/* The command log kept in memory, lines ended by '\n', written to `buffer`
 * (at most size - 1 bytes and a NUL); returns the log's full length. */
KVEMU_EXPORT long long kvemu_command_log(char *buffer, long long size);
KVEMU_EXPORT void kvemu_clear_log(void);
/* Faults: "unplug" (back after `value` ms, 0: the profile's replug delay),
 * "replug" (now), "unplug_after_bytes" (after `value` more bulk bytes),
 * "fail_read" (the `value`-th bulk read from now fails, its bytes lost),
 * and the hostile answers, each once, to the command whose code is the low
 * byte of `value`, on its answer that the rest of `value` counts (0 or 1: the
 * next one): "answer_short" (the first half of its bytes only),
 * "answer_missing" (none), "answer_oversized" (3 bytes more than the command
 * asks for, left for the next read), "answer_garbage" (as many bytes,
 * pseudo-random ones) and "answer_zeroed" (as many bytes, all 0); the
 * command log gets a FAULT line when one is spoilt.
 * 1 when done, 0 for an unknown fault or no programmer. */
KVEMU_EXPORT int kvemu_inject_fault(const char *fault, unsigned long long value);
/* The pause after a successful download (1800 ms, as kvusb). */
KVEMU_EXPORT void kvemu_set_download_pause_ms(unsigned milliseconds);

#ifdef __cplusplus
}
#endif

#endif
