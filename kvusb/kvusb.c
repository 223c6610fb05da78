/*
 * kvusb on libusb-1.0. One device at a time, in module state; called from one
 * thread at a time. See kvusb.h for the six functions.
 */
#define _POSIX_C_SOURCE 200809L

#include "kvusb.h"
#include "KvusbState.h"

#include <libusb.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <time.h>

enum {
    VENDOR_FX2 = 0x04B4,
    VENDOR_AN21 = 0x0547,
    /* The parts' own product identifiers, before any firmware runs. */
    PRODUCT_FX2 = 0x8613,
    PRODUCT_AN2131 = 0x2131,
    PRODUCT_AN2235 = 0x2235,
    /* Pipes the engine needs: 0 commands out, 2 short and 3 bulk answers in. */
    PROGRAMMER_PIPES = 4,
    MAX_PORT_DEPTH = 7,
    CPUCS_FX2 = 0xE600,
    CPUCS_AN21 = 0x7F92,
    REQUEST_FIRMWARE_LOAD = 0xA0,
    RECORD_SIZE = 22,
    RECORD_DATA_MAX = 16,
    RECORD_END = 1,
    RECORDS_MAX = 65536,
    DOWNLOAD_PAUSE_MS = 1800,
    CONTROL_TIMEOUT_MS = 5000,
    /* A programmer that stops answering must not hold the caller forever; the
     * slowest chip operation answers well within this. */
    TRANSFER_TIMEOUT_MS = 60000,
    UNREAD = 0xFF
};

struct pipe
{
    unsigned address;
    unsigned short packet_size;
};

/* Entry 0 reads 0xFF until a device's endpoints were recorded: that is also
 * the sign that the programmer's own firmware does not run yet (the bare
 * micro-controller has no endpoints on interface 0, alternate setting 0). */
static struct pipe pipes[KVUSB_PIPES] = {{UNREAD, 0}};
static libusb_context *context;
static libusb_device_handle *handle;
static int interface_claimed;
static int open_result;
static unsigned download_pause_ms = DOWNLOAD_PAUSE_MS;

static void reset_pipe_table(void)
{
    for (int i = 0; i < KVUSB_PIPES; ++i)
        pipes[i].address = UNREAD;
}

static void release_context(void)
{
    if (context && !handle) {
        libusb_exit(context);
        context = NULL;
    }
}

static int close_device(void)
{
    int closed = 0;
    if (handle) {
        if (interface_claimed)
            libusb_release_interface(handle, 0);
        libusb_close(handle);
        handle = NULL;
        interface_claimed = 0;
        closed = 1;
    }
    release_context();
    return closed;
}

static void pause_ms(unsigned milliseconds)
{
    struct timespec left = {milliseconds / 1000, (long)(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0) {
    }
}

static int is_programmer_vendor(unsigned vendor)
{
    return vendor == VENDOR_FX2 || vendor == VENDOR_AN21;
}

/* Vendor identifier from the device itself (a real GET_DESCRIPTOR request), or -1. */
static int read_vendor(void)
{
    unsigned char descriptor[LIBUSB_DT_DEVICE_SIZE];
    int got = libusb_get_descriptor(handle, LIBUSB_DT_DEVICE, 0, descriptor, sizeof descriptor);
    if (got < 10)
        return -1;
    return descriptor[8] | (descriptor[9] << 8);
}

/* The bare micro-controller: its own identifiers and the vendor-specific
 * class it enumerates with before any firmware runs. */
static int is_bare_part(const struct libusb_device_descriptor *d)
{
    if (d->bDeviceClass != LIBUSB_CLASS_VENDOR_SPEC)
        return 0;
    if (d->idVendor == VENDOR_FX2)
        return d->idProduct == PRODUCT_FX2;
    if (d->idVendor == VENDOR_AN21)
        return d->idProduct == PRODUCT_AN2131 || d->idProduct == PRODUCT_AN2235;
    return 0;
}

static int is_bulk(const struct libusb_endpoint_descriptor *endpoint, int in)
{
    return (endpoint->bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK &&
           ((endpoint->bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) == in;
}

/* The programmer once its firmware runs: interface 0, alternate setting 0 of
 * vendor-specific class with bulk pipes 0 (out), 1, 2 and 3 (in). Read from
 * the descriptors the system keeps: nothing is sent to the device. */
static int has_programmer_pipes(libusb_device *device)
{
    struct libusb_config_descriptor *config = NULL;
    if (libusb_get_active_config_descriptor(device, &config) != 0 || !config)
        return 0;
    int found = 0;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        const struct libusb_interface *interface = &config->interface[i];
        for (int a = 0; a < interface->num_altsetting; ++a) {
            const struct libusb_interface_descriptor *setting = &interface->altsetting[a];
            if (setting->bInterfaceNumber != 0 || setting->bAlternateSetting != 0)
                continue;
            const struct libusb_endpoint_descriptor *e = setting->endpoint;
            found = setting->bInterfaceClass == LIBUSB_CLASS_VENDOR_SPEC &&
                    setting->bNumEndpoints >= PROGRAMMER_PIPES && is_bulk(&e[0], 0) &&
                    (is_bulk(&e[1], 0) || is_bulk(&e[1], 1)) && is_bulk(&e[2], 1) &&
                    is_bulk(&e[3], 1);
            break;
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

enum candidate { NOT_PROGRAMMER, BARE_PART, RUNNING_FIRMWARE };

static enum candidate candidate_kind(libusb_device *device)
{
    struct libusb_device_descriptor descriptor;
    if (libusb_get_device_descriptor(device, &descriptor) != 0 ||
        !is_programmer_vendor(descriptor.idVendor))
        return NOT_PROGRAMMER;
    if (is_bare_part(&descriptor))
        return BARE_PART;
    return has_programmer_pipes(device) ? RUNNING_FIRMWARE : NOT_PROGRAMMER;
}

/* Bus order: bus number, then the path of ports from the root hub. */
static int compare_bus_order(const void *left, const void *right)
{
    libusb_device *a = *(libusb_device *const *)left;
    libusb_device *b = *(libusb_device *const *)right;
    int bus = (int)libusb_get_bus_number(a) - (int)libusb_get_bus_number(b);
    if (bus != 0)
        return bus;
    uint8_t path_a[MAX_PORT_DEPTH], path_b[MAX_PORT_DEPTH];
    int depth_a = libusb_get_port_numbers(a, path_a, MAX_PORT_DEPTH);
    int depth_b = libusb_get_port_numbers(b, path_b, MAX_PORT_DEPTH);
    for (int i = 0; i < depth_a && i < depth_b; ++i)
        if (path_a[i] != path_b[i])
            return (int)path_a[i] - (int)path_b[i];
    if (depth_a != depth_b)
        return depth_a - depth_b;
    return (int)libusb_get_device_address(a) - (int)libusb_get_device_address(b);
}

/* Opens a candidate and claims interface 0. A driver may be taken off the
 * programmer's own firmware interface, never off a bare part: a bare part
 * that a driver holds belongs to something else. */
static libusb_device_handle *open_candidate(libusb_device *device, enum candidate kind)
{
    libusb_device_handle *opened = NULL;
    if (libusb_open(device, &opened) != 0)
        return NULL;
    if (kind == BARE_PART && libusb_kernel_driver_active(opened, 0) == 1) {
        libusb_close(opened);
        return NULL;
    }
    libusb_set_auto_detach_kernel_driver(opened, kind == RUNNING_FIRMWARE);
    if (libusb_claim_interface(opened, 0) != 0) {
        libusb_close(opened);
        return NULL;
    }
    return opened;
}

/* The first device in bus order that can be the programmer and opens, with
 * interface 0 claimed. Other devices are never opened. */
static libusb_device_handle *open_first_programmer(void)
{
    libusb_device **list = NULL;
    libusb_device_handle *opened = NULL;
    ssize_t count = libusb_get_device_list(context, &list);
    if (count <= 0) {
        if (count == 0)
            libusb_free_device_list(list, 1);
        return NULL;
    }
    qsort(list, (size_t)count, sizeof *list, compare_bus_order);
    for (ssize_t i = 0; i < count && !opened; ++i) {
        enum candidate kind = candidate_kind(list[i]);
        if (kind != NOT_PROGRAMMER)
            opened = open_candidate(list[i], kind);
    }
    libusb_free_device_list(list, 1);
    return opened;
}

/* Records interface 0, alternate setting 0's endpoints in descriptor order. */
static void read_pipe_table(void)
{
    struct libusb_config_descriptor *config = NULL;
    if (libusb_get_active_config_descriptor(libusb_get_device(handle), &config) != 0 || !config)
        return;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const struct libusb_interface *interface = &config->interface[i];
        for (int a = 0; a < interface->num_altsetting; ++a) {
            const struct libusb_interface_descriptor *setting = &interface->altsetting[a];
            if (setting->bInterfaceNumber != 0 || setting->bAlternateSetting != 0)
                continue;
            for (int e = 0; e < setting->bNumEndpoints && e < KVUSB_PIPES; ++e) {
                pipes[e].address = setting->endpoint[e].bEndpointAddress;
                pipes[e].packet_size = setting->endpoint[e].wMaxPacketSize;
            }
            libusb_free_config_descriptor(config);
            return;
        }
    }
    libusb_free_config_descriptor(config);
}

int func4(void)
{
    if (handle)
        return open_result;
    if (!context && libusb_init(&context) != 0) {
        context = NULL;
        reset_pipe_table();
        return 0;
    }
    handle = open_first_programmer();
    if (!handle) {
        reset_pipe_table();
        release_context();
        return 0;
    }
    interface_claimed = 1;
    open_result = read_vendor() == VENDOR_AN21 ? 2 : 1;
    if (pipes[0].address == UNREAD)
        read_pipe_table();
    return open_result;
}

int func5(void)
{
    return close_device();
}

int func6(void)
{
    return pipes[1].packet_size;
}

static int bulk(int pipe, unsigned char *buffer, int length, int in)
{
    if (!handle || pipe < 0 || pipe >= KVUSB_PIPES || length < 0 || (!buffer && length > 0))
        return -1;
    unsigned address = pipes[pipe].address;
    if (address == UNREAD || address == 0 || ((address & LIBUSB_ENDPOINT_IN) != 0) != in)
        return -1;
    int transferred = 0;
    int rc = libusb_bulk_transfer(handle, (unsigned char)address, buffer, length, &transferred,
                                  TRANSFER_TIMEOUT_MS);
    if (rc == 0 || (rc == LIBUSB_ERROR_TIMEOUT && transferred > 0))
        return transferred;
    return -1;
}

int func1(int pipe, unsigned char *buffer, int length)
{
    return bulk(pipe, buffer, length, 1);
}

int func2(int pipe, unsigned char *buffer, int length)
{
    return bulk(pipe, buffer, length, 0);
}

static int firmware_load(unsigned address, unsigned char *data, unsigned length)
{
    int rc = libusb_control_transfer(handle, LIBUSB_REQUEST_TYPE_VENDOR | LIBUSB_ENDPOINT_OUT,
                                     REQUEST_FIRMWARE_LOAD, (uint16_t)address, 0, data,
                                     (uint16_t)length, CONTROL_TIMEOUT_MS);
    return rc == (int)length;
}

/* Writes every record before the end record; 1 when all went through. */
static int write_records(const unsigned char *record)
{
    int written = 0;
    for (int i = 0; i < RECORDS_MAX; ++i, record += RECORD_SIZE) {
        if (record[4] == RECORD_END)
            return written > 0;
        unsigned length = record[0];
        if (record[4] != 0 || length > RECORD_DATA_MAX)
            return 0;
        unsigned char data[RECORD_DATA_MAX];
        for (unsigned b = 0; b < length; ++b)
            data[b] = record[5 + b];
        if (!firmware_load(record[2] | (record[3] << 8), length ? data : NULL, length))
            return 0;
        ++written;
    }
    return 0;
}

int func3(const void *records, unsigned char force)
{
    if (func4() == 0)
        return 0;
    if (force)
        pipes[0].address = UNREAD;
    int vendor = read_vendor();
    if (!records || vendor < 0 || !is_programmer_vendor((unsigned)vendor)) {
        close_device();
        return 0;
    }
    if (pipes[0].address != UNREAD) {
        close_device();
        return 2;
    }
    unsigned cpucs = vendor == VENDOR_AN21 ? CPUCS_AN21 : CPUCS_FX2;
    unsigned char hold = 1, release = 0;
    firmware_load(cpucs, &hold, 1);
    int result = write_records((const unsigned char *)records);
    firmware_load(cpucs, &release, 1);
    close_device();
    if (result == 1)
        pause_ms(download_pause_ms);
    return result;
}

unsigned kvusb_pipe_address(int pipe)
{
    return pipe >= 0 && pipe < KVUSB_PIPES ? pipes[pipe].address : UNREAD;
}

unsigned kvusb_pipe_packet_size(int pipe)
{
    return pipe >= 0 && pipe < KVUSB_PIPES ? pipes[pipe].packet_size : 0;
}

int kvusb_is_open(void)
{
    return handle != NULL;
}

unsigned kvusb_download_pause_ms(void)
{
    return download_pause_ms;
}

void kvusb_set_download_pause_ms(unsigned milliseconds)
{
    download_pause_ms = milliseconds;
}

/* Releases the device and the libusb context when the library is unloaded. */
__attribute__((destructor)) static void kvusb_unload(void)
{
    close_device();
}
