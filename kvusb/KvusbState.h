/*
 * Inspection of kvusb's module state, for the library's own tests. Not
 * exported from the shared library.
 */
#ifndef KVUSB_STATE_H
#define KVUSB_STATE_H

#ifdef __cplusplus
extern "C" {
#endif

#define KVUSB_PIPES 8

/* Endpoint address recorded for pipe `pipe` (0xFF: table not read). */
unsigned kvusb_pipe_address(int pipe);
/* Maximum packet size recorded for pipe `pipe`. */
unsigned kvusb_pipe_packet_size(int pipe);
/* 1 while a device handle is held. */
int kvusb_is_open(void);
/* Pause after a successful download, in milliseconds (1800). */
unsigned kvusb_download_pause_ms(void);
/* Changes that pause, so that tests that are not about it run faster. */
void kvusb_set_download_pause_ms(unsigned milliseconds);

#ifdef __cplusplus
}
#endif

#endif
