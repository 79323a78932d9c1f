// A keyboard that is there but never answers, for the seat check (scripts/seat-check),
// which boots a throw-away system with it: a machine without the keyboard cannot otherwise
// show that the udev rule opens the node to the user at the seat, nor that the tools give
// up on a silent keyboard instead of hanging.
//
//   fake-keyboard usb  [SECONDS]  a USB device on port 0 of the USB/IP virtual host
//                                 controller (vhci-hcd), with the controller's IDs, version
//                                 and two HID interfaces: a boot keyboard and the vendor
//                                 interface. It takes every report the host sends and never
//                                 sends one back.
//   fake-keyboard uhid [SECONDS]  the same IDs through /dev/uhid: no USB device behind it, so
//                                 neither udev rules nor the tools see its USB attributes.
//
// A gadget on the dummy host controller would be simpler, but the kernel lets a gadget's
// version number only be BCD, and the controller's (0xCC00) is not.
// Runs until SIGTERM/SIGINT or SECONDS, then removes the device.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define VENDOR 0x0483
#define PRODUCT 0x5710
#define VERSION 0xCC00

static volatile sig_atomic_t stop;

static void on_signal(int sig) {
    (void)sig;
    stop = 1;
}

// Vendor page, one 64-byte input and one 64-byte output report, no report ID.
static const unsigned char kVendorDescriptor[] = {
    0x06, 0x00, 0xFF,        // Usage Page (vendor 0xFF00)
    0x09, 0x01,              // Usage (1)
    0xA1, 0x01,              // Collection (Application)
    0x15, 0x00,              //   Logical Minimum (0)
    0x26, 0xFF, 0x00,        //   Logical Maximum (255)
    0x75, 0x08,              //   Report Size (8)
    0x95, 0x40,              //   Report Count (64)
    0x09, 0x01, 0x81, 0x02,  //   Usage (1), Input (Data, Var, Abs)
    0x95, 0x40,              //   Report Count (64)
    0x09, 0x01, 0x91, 0x02,  //   Usage (1), Output (Data, Var, Abs)
    0xC0,                    // End Collection
};

// The usual boot keyboard: modifiers, a reserved byte, six keys; five LEDs out.
static const unsigned char kKeyboardDescriptor[] = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x03, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x03, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// --- USB through the USB/IP virtual host controller: this program is the device's end ---

enum { CMD_SUBMIT = 1, CMD_UNLINK = 2, RET_SUBMIT = 3, RET_UNLINK = 4 };

// The USB/IP header, big-endian on the wire; the setup packet stays as USB sends it.
struct usbip_header {
    uint32_t command, seqnum, devid, direction, ep;
    union {
        struct {
            uint32_t flags;
            int32_t length, start_frame, packets, interval;
            uint8_t setup[8];
        } submit;
        struct {
            int32_t status, actual_length, start_frame, packets, error_count;
            uint8_t padding[8];
        } ret;
        struct {
            uint32_t seqnum;
            uint8_t padding[24];
        } unlink;
    } u;
} __attribute__((packed));

// clang-format off
static const uint8_t kDeviceDescriptor[18] = {
    18, 1, 0x00, 0x02, 0, 0, 0, 64,                             // USB 2.0, class per interface
    VENDOR & 0xFF, VENDOR >> 8, PRODUCT & 0xFF, PRODUCT >> 8,
    VERSION & 0xFF, VERSION >> 8, 1, 2, 3, 1,                    // bcdDevice, strings, 1 config
};

#define CONFIG_LENGTH (9 + 9 + 9 + 7 + 9 + 9 + 7 + 7)
// Interface 0 a boot keyboard (interrupt in 0x81), interface 1 the vendor interface
// (interrupt in 0x82, interrupt out 0x03), as the controller has them.
static const uint8_t kConfigDescriptor[CONFIG_LENGTH] = {
    9, 2, CONFIG_LENGTH, 0, 2, 1, 0, 0xA0, 50,
    9, 4, 0, 0, 1, 3, 1, 1, 0,                                      // interface 0: HID, boot keyboard
    9, 0x21, 0x11, 0x01, 0, 1, 0x22, sizeof kKeyboardDescriptor, 0,  // its HID descriptor
    7, 5, 0x81, 3, 8, 0, 10,
    9, 4, 1, 0, 2, 3, 0, 0, 0,                                      // interface 1: HID
    9, 0x21, 0x11, 0x01, 0, 1, 0x22, sizeof kVendorDescriptor, 0,    // its HID descriptor
    7, 5, 0x82, 3, 64, 0, 1,
    7, 5, 0x03, 3, 64, 0, 1,
};
// clang-format on

static const char* const kStrings[] = {NULL, "Tavrik", "Tavrik test keyboard", "SEAT0001"};

static int read_all(int fd, void* data, size_t size) {
    uint8_t* p = data;
    while (size > 0) {
        ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

static int write_all(int fd, const void* data, size_t size) {
    const uint8_t* p = data;
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return -1;
        }
        p += n;
        size -= (size_t)n;
    }
    return 0;
}

static int reply(int fd, uint32_t command, uint32_t seqnum, int32_t status, const void* data,
                 size_t size) {
    struct usbip_header h;
    memset(&h, 0, sizeof h);
    h.command = htonl(command);
    h.seqnum = htonl(seqnum);
    h.u.ret.status = (int32_t)htonl((uint32_t)status);
    h.u.ret.actual_length = (int32_t)htonl((uint32_t)size);
    if (write_all(fd, &h, sizeof h) != 0) {
        return -1;
    }
    return size > 0 ? write_all(fd, data, size) : 0;
}

// Answers a control request: descriptors and the usual set requests; GET_REPORT and
// anything else stall, as a controller that says nothing would.
static int control(int fd, uint32_t seqnum, const uint8_t* s, size_t room) {
    const unsigned type = s[0], request = s[1], value = s[2] | s[3] << 8, index = s[4] | s[5] << 8;
    uint8_t buf[256];
    const void* data = NULL;
    size_t size = 0;
    int ok = 1;
    if (type == 0x80 && request == 6) {  // GET_DESCRIPTOR, device
        switch (value >> 8) {
            case 1:
                data = kDeviceDescriptor, size = sizeof kDeviceDescriptor;
                break;
            case 2:
                data = kConfigDescriptor, size = sizeof kConfigDescriptor;
                break;
            case 3:
                if ((value & 0xFF) == 0) {
                    static const uint8_t langs[] = {4, 3, 0x09, 0x04};
                    data = langs, size = sizeof langs;
                } else if ((value & 0xFF) < 4) {
                    const char* text = kStrings[value & 0xFF];
                    size = 2 + 2 * strlen(text);
                    buf[0] = (uint8_t)size, buf[1] = 3;
                    for (size_t i = 0; text[i]; ++i) {
                        buf[2 + 2 * i] = (uint8_t)text[i], buf[3 + 2 * i] = 0;
                    }
                    data = buf;
                } else {
                    ok = 0;
                }
                break;
            default:
                ok = 0;  // device qualifier, BOS...: a full-speed USB 2.0 device has none
        }
    } else if (type == 0x81 && request == 6 && (value >> 8) == 0x22 && index < 2) {
        data = index == 0 ? kKeyboardDescriptor : kVendorDescriptor;
        size = index == 0 ? sizeof kKeyboardDescriptor : sizeof kVendorDescriptor;
    } else if (type == 0x81 && request == 6 && (value >> 8) == 0x21 && index < 2) {
        data = kConfigDescriptor + (index == 0 ? 18 : 43), size = 9;
    } else if ((type & 0x80) && request == 0) {  // GET_STATUS
        memset(buf, 0, 2);
        data = buf, size = 2;
    } else if (type == 0x00 && request == 9) {   // SET_CONFIGURATION
    } else if (type == 0x01 && request == 11) {  // SET_INTERFACE
    } else if (type == 0x21 && (request == 0x0A || request == 0x0B || request == 0x09)) {
        // SET_IDLE, SET_PROTOCOL, SET_REPORT: taken, no effect
    } else {
        ok = 0;
    }
    if (!ok) {
        return reply(fd, RET_SUBMIT, seqnum, -32 /* EPIPE: stall */, NULL, 0);
    }
    return reply(fd, RET_SUBMIT, seqnum, 0, data, size < room ? size : room);
}

// Interrupt-in requests the device never completes; an unlink must be told whether the
// request was still here.
static uint32_t pending[64];
static size_t pending_count;

static int take_pending(uint32_t seqnum) {
    for (size_t i = 0; i < pending_count; ++i) {
        if (pending[i] == seqnum) {
            pending[i] = pending[--pending_count];
            return 1;
        }
    }
    return 0;
}

// One request from the host controller; -1 when the connection is gone.
static int serve(int fd, unsigned long* received) {
    struct usbip_header h;
    static uint8_t data[65536];
    if (read_all(fd, &h, sizeof h) != 0) {
        return -1;
    }
    const uint32_t command = ntohl(h.command), seqnum = ntohl(h.seqnum);
    if (command == CMD_UNLINK) {
        const int was_pending = take_pending(ntohl(h.u.unlink.seqnum));
        return reply(fd, RET_UNLINK, seqnum, was_pending ? -104 /* ECONNRESET */ : 0, NULL, 0);
    }
    if (command != CMD_SUBMIT) {
        fprintf(stderr, "fake-keyboard: unknown USB/IP command %u\n", command);
        return -1;
    }
    const int in = ntohl(h.direction) == 1;
    const uint32_t ep = ntohl(h.ep);
    int32_t length = (int32_t)ntohl((uint32_t)h.u.submit.length);
    if (length < 0 || length > (int32_t)sizeof data) {
        return -1;
    }
    if (!in && length > 0 && read_all(fd, data, (size_t)length) != 0) {
        return -1;
    }
    if (ep == 0) {
        return control(fd, seqnum, h.u.submit.setup, (size_t)length);
    }
    if (in) {
        if (pending_count == sizeof pending / sizeof pending[0]) {
            return reply(fd, RET_SUBMIT, seqnum, -32, NULL, 0);
        }
        pending[pending_count++] = seqnum;  // never answered: the keyboard is silent
        return 0;
    }
    if ((*received)++ % 100 == 0) {
        // The first and then every hundredth, so a busy host does not flood the log.
        fprintf(stderr, "fake-keyboard: %lu reports from the host so far\n", *received);
    }
    struct usbip_header r;
    memset(&r, 0, sizeof r);
    r.command = htonl(RET_SUBMIT);
    r.seqnum = htonl(seqnum);
    r.u.ret.actual_length = (int32_t)htonl((uint32_t)length);
    return write_all(fd, &r, sizeof r);
}

#define VHCI "/sys/devices/platform/vhci_hcd.0"

static int write_text(const char* path, const char* text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "fake-keyboard: open %s: %s\n", path, strerror(errno));
        return -1;
    }
    ssize_t n = write(fd, text, strlen(text));
    int saved = errno;
    close(fd);
    if (n != (ssize_t)strlen(text)) {
        fprintf(stderr, "fake-keyboard: write %s: %s\n", path, n < 0 ? strerror(saved) : "short");
        return -1;
    }
    return 0;
}

// Plugs the device into port 0 of the virtual host controller; returns our end.
static int attach_usb(void) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        fprintf(stderr, "fake-keyboard: socketpair: %s\n", strerror(errno));
        return -1;
    }
    char text[64];
    // port, the host's end, device id (bus 1, device 2), full speed
    snprintf(text, sizeof text, "0 %d %u 2", pair[1], (1u << 16) | 2u);
    if (write_text(VHCI "/attach", text) != 0) {
        close(pair[0]);
        close(pair[1]);
        return -1;
    }
    close(pair[1]);  // the host controller holds its own reference
    return pair[0];
}

static int make_uhid(void) {
    int fd = open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "fake-keyboard: open /dev/uhid: %s\n", strerror(errno));
        return -1;
    }
    struct uhid_event ev;
    memset(&ev, 0, sizeof ev);
    ev.type = UHID_CREATE2;
    snprintf((char*)ev.u.create2.name, sizeof ev.u.create2.name, "Tavrik test keyboard");
    snprintf((char*)ev.u.create2.phys, sizeof ev.u.create2.phys, "fake-keyboard/input1");
    snprintf((char*)ev.u.create2.uniq, sizeof ev.u.create2.uniq, "SEAT0001");
    ev.u.create2.rd_size = sizeof kVendorDescriptor;
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = VENDOR;
    ev.u.create2.product = PRODUCT;
    ev.u.create2.version = VERSION;
    memcpy(ev.u.create2.rd_data, kVendorDescriptor, sizeof kVendorDescriptor);
    if (write(fd, &ev, sizeof ev) != (ssize_t)sizeof ev) {
        fprintf(stderr, "fake-keyboard: UHID_CREATE2: %s\n", strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

int main(int argc, char** argv) {
    const int usb = argc >= 2 && strcmp(argv[1], "usb") == 0;
    if (argc < 2 || (!usb && strcmp(argv[1], "uhid") != 0)) {
        fprintf(stderr, "usage: fake-keyboard usb|uhid [SECONDS]\n");
        return 2;
    }
    const long seconds = argc >= 3 ? strtol(argv[2], NULL, 10) : 0;
    signal(SIGTERM, on_signal);
    signal(SIGINT, on_signal);

    int fd = usb ? attach_usb() : make_uhid();
    if (fd < 0) {
        return 1;
    }
    fprintf(stderr, "fake-keyboard: %s device %04x:%04x version %04x is there\n", argv[1], VENDOR,
            PRODUCT, VERSION);

    // Take what the host sends and answer none of it.
    const time_t end = seconds > 0 ? time(NULL) + seconds : 0;
    unsigned long received = 0;
    unsigned char buf[sizeof(struct uhid_event)];
    while (!stop && (end == 0 || time(NULL) < end)) {
        struct pollfd p = {.fd = fd, .events = POLLIN};
        int r = poll(&p, 1, 500);
        if (r < 0 && errno != EINTR) {
            break;
        }
        if (r <= 0) {
            continue;
        }
        if (usb) {
            if (serve(fd, &received) != 0) {
                fprintf(stderr, "fake-keyboard: the host controller let go of the device\n");
                break;
            }
        } else if (read(fd, buf, sizeof buf) > 0 && received++ % 100 == 0) {
            fprintf(stderr, "fake-keyboard: %lu messages from the host so far\n", received);
        }
    }
    if (usb) {
        write_text(VHCI "/detach", "0");
        close(fd);
    } else {
        struct uhid_event ev;
        memset(&ev, 0, sizeof ev);
        ev.type = UHID_DESTROY;
        if (write(fd, &ev, sizeof ev) < 0) {
            fprintf(stderr, "fake-keyboard: UHID_DESTROY: %s\n", strerror(errno));
        }
        close(fd);
    }
    fprintf(stderr, "fake-keyboard: removed after %lu messages from the host\n", received);
    return 0;
}
