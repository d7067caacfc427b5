// Non-blocking serial ports: 8N1, raw, no flow control.
//
// A port is opened by number (0 = COM1 ... 23 = COM24), mapped to the device
// "/dev/tty<type><number>" (type "S" unless changed with sio_set_tty_type), or
// by device path. Reads return at once with what is queued. Writes never block
// and never lose bytes: what the device cannot take at once is kept in the
// port block and written on later calls and at close.
//
// Part of the link library (talon_link). One thread: a port block must not be
// used from two threads at once. The port block is the only heap object of
// the navigation modes: allocated by sio_open / sio_open_path, freed by
// sio_close.
#pragma once

#include <array>

// Port numbers: sio_open(port, ...) takes 0..23 and opens /dev/tty<type><port>.
enum : int {
  SERIAL_COM1 = 0,
  SERIAL_COM24 = 23,
  NSERIAL_COM = 24,  // ports 0..23
};

// Baud indices: every `baud` parameter below is one of these, not a rate.
enum : int {
  SERIAL_BAUD_4800 = 0,
  SERIAL_BAUD_9600 = 1,
  SERIAL_BAUD_14400 = 2,
  SERIAL_BAUD_19200 = 3,
  SERIAL_BAUD_38400 = 4,
  SERIAL_BAUD_56000 = 5,
  SERIAL_BAUD_57600 = 6,
  SERIAL_BAUD_115200 = 7,  // the host link and the RTK streams
  SERIAL_BAUD_128000 = 8,
  SERIAL_BAUD_256000 = 9,
  NSERIAL_BAUD = 10,
};

// Line rate of each baud index, baud (set exactly, also where POSIX has no constant).
inline constexpr std::array<int, NSERIAL_BAUD> Baud_rate_array = {4800,  9600,  14400,  19200,  38400,
                                                                  56000, 57600, 115200, 128000, 256000};

// An open port; owned by this module from sio_open until sio_close.
struct SIO_S;
using SIO_T = SIO_S*;

// Open port number `port` (0..23) at baud index `baud` (0..9), 8N1 raw, input
// and output queues discarded. Returns the port, or null when port or baud is
// out of range (no device touched), or the device cannot be opened or is not
// a terminal.
SIO_T sio_open(int port, int baud);
// Open a device by path ("/dev/ttyUSB0", a pty slave; the caller keeps the
// string) at baud index `baud`, as sio_open. Null on failure.
SIO_T sio_open_path(const char* path, int baud);
// Close the port and free its block; queued output is flushed first (for at
// most about 2 s, then dropped). Null is ignored. The handle is invalid after.
void sio_close(SIO_T sio);
// Change the line rate only, to baud index `baud` (0..9); the other line
// settings stay. 1 on success, 0 for a null port, a bad index or a device error.
int sio_baud(SIO_T sio, int baud);
// The line rate the device is set to, in baud; 0 for a null port or an error.
int sio_get_baud_rate(SIO_T sio);
// Queue len bytes of buf_p for writing; the bytes are copied, so the caller's
// buffer may be reused at once. Returns len when every byte has left for the
// device, -1 when some are still queued in the port block (written on later
// calls), 0 when more than 1 MiB would be queued (nothing of this buffer is
// taken) or on a device error.
int sio_tx(SIO_T sio, const char* buf_p, int len);
// Read at most len of the bytes already received into the caller's buffer
// buf_p (at least len bytes). Returns the count, 0 when nothing is queued or
// on an error (a hang-up is then told by sio_hung_up). Never waits; also
// moves queued output along.
int sio_rx(SIO_T sio, char* buf_p, int len);
// Wait, sleeping in the kernel, until one of the n ports of `ports` (the
// caller's array of n entries, n at most SIO_WAIT_MAX; null entries and ports
// that hung up are skipped) has input to read or its far end hung up, for at
// most timeout_ms (ms; 0 or less: do not wait). A signal ends the wait early. Queued
// output of the ports is moved along meanwhile (the wait also ends when a port
// can take more of it). Returns a bit mask: bit i is set when ports[i] has
// input or hung up (sio_rx then returns its bytes, or 0 with sio_hung_up 1);
// 0 on a time-out, a signal, a poll error, or when n is out of 1..SIO_WAIT_MAX.
inline constexpr int SIO_WAIT_MAX = 8;
int sio_wait(const SIO_T* ports, int n, int timeout_ms);
// 1 once the far end of the port has gone (a pty master closed, a USB adapter
// unplugged: the device reported a hang-up or an I/O error) and every byte
// received before has been read with sio_rx; 0 otherwise or for a null port.
// Nothing more arrives on such a port and what is written to it is lost.
int sio_hung_up(SIO_T sio);
// The device path of the open port (the path given to sio_open_path, or
// "/dev/tty<type><n>" of a numbered port), owned by the port block: valid until
// sio_close. "" for a null port.
const char* sio_name(SIO_T sio);
// Wait until every queued byte has been handed to the device and the device
// has sent it, for at most timeout_ms (ms). 1 when drained, 0 on timeout, a
// null port or a device error.
int sio_drain(SIO_T sio, int timeout_ms);

// Device name prefix used for numbered ports: "S" gives /dev/ttyS<n>, "USB"
// gives /dev/ttyUSB<n>, "ACM" /dev/ttyACM<n>. Copied (at most 15 characters,
// longer prefixes are cut); null is ignored. Process-wide; affects later opens.
void sio_set_tty_type(const char* type);
// Write the device path that sio_open(port, ...) opens into the caller's
// buffer `name` of `size` bytes (cut to fit, always terminated). 1 on success;
// 0 when port is outside 0..23, name is null or size is not positive.
int sio_device_name(int port, char* name, int size);
