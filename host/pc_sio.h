// Non-blocking serial ports: 8N1, raw, no flow control.
//
// A port is opened by number (0 = COM1 ... 23 = COM24), mapped to the device
// "/dev/tty<type><number>" (type "S" unless changed with sio_set_tty_type), or
// by device path. Reads return at once with what is queued. Writes never block
// and never lose bytes: what the device cannot take at once is kept in the
// port block and written on later calls and at close.
#pragma once

#include <array>

enum : int {
  SERIAL_COM1 = 0,
  SERIAL_COM24 = 23,
  NSERIAL_COM = 24,
};

enum : int {
  SERIAL_BAUD_4800 = 0,
  SERIAL_BAUD_9600 = 1,
  SERIAL_BAUD_14400 = 2,
  SERIAL_BAUD_19200 = 3,
  SERIAL_BAUD_38400 = 4,
  SERIAL_BAUD_56000 = 5,
  SERIAL_BAUD_57600 = 6,
  SERIAL_BAUD_115200 = 7,
  SERIAL_BAUD_128000 = 8,
  SERIAL_BAUD_256000 = 9,
  NSERIAL_BAUD = 10,
};

inline constexpr std::array<int, NSERIAL_BAUD> Baud_rate_array = {4800,  9600,  14400,  19200,  38400,
                                                                  56000, 57600, 115200, 128000, 256000};

struct SIO_S;
using SIO_T = SIO_S*;

// Null when port or baud is out of range, or the device cannot be opened.
SIO_T sio_open(int port, int baud);
// Open a device by path ("/dev/ttyUSB0", a pty slave). Null on failure.
SIO_T sio_open_path(const char* path, int baud);
// Close; queued output is flushed first (for at most about 2 s). Null is ignored.
void sio_close(SIO_T sio);
// Change the baud rate only. 1 on success, 0 for a null port, a bad index or a device error.
int sio_baud(SIO_T sio, int baud);
// The line rate the device is set to, in baud; 0 for a null port or an error.
int sio_get_baud_rate(SIO_T sio);
// Queue len bytes for writing. Returns len when every byte has left for the
// device, -1 when some are still queued in the port block, 0 on an error
// (nothing of this buffer was taken).
int sio_tx(SIO_T sio, const char* buf_p, int len);
// Read at most len of the bytes already received. Returns the count (0 when
// nothing is queued), 0 on an error as well. Never waits.
int sio_rx(SIO_T sio, char* buf_p, int len);
// Wait until every queued byte has been handed to the device and the device
// has sent it, for at most timeout_ms. 1 when drained, 0 otherwise.
int sio_drain(SIO_T sio, int timeout_ms);

// Device name prefix used for numbered ports: "S" gives /dev/ttyS<n>, "USB"
// gives /dev/ttyUSB<n>, "ACM" /dev/ttyACM<n>. At most 15 characters.
void sio_set_tty_type(const char* type);
// The device path that sio_open(port, ...) opens; 0 when port is out of range.
int sio_device_name(int port, char* name, int size);
