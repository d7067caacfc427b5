#include "host/pc_sio.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

// Exact line rates (pc_sio_rate.cpp).
int sio_set_line_rate(int fd, int rate);
int sio_get_line_rate(int fd);

namespace {

// Output that the device could not take at once. Bounded so that a port whose
// far end never reads cannot eat the machine; past the bound sio_tx refuses
// the whole buffer (returns 0) rather than dropping part of it.
constexpr std::size_t SIO_MAX_PENDING = 1u << 20;

char Tty_type[16] = "S";

}  // namespace

struct SIO_S {
  int port = -1;  // port index, -1 when opened by path
  int baud = 0;   // baud index
  int fd = -1;
  bool hup_seen = false;      // poll reported a hang-up; sio_rx confirms it once the input is read
  bool hung_up = false;       // the far end has gone and every byte received was read
  char name[256] = "";        // device path
  std::vector<char> pending;  // bytes accepted by sio_tx, not yet written
  std::size_t pending_head = 0;
};

namespace {

// Write as much of the pending queue as the device takes now. 0 on a device error.
int flush_pending(SIO_S* s) {
  while (s->pending_head < s->pending.size()) {
    const ssize_t n = ::write(s->fd, s->pending.data() + s->pending_head, s->pending.size() - s->pending_head);
    if (n > 0) {
      s->pending_head += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      return 0;
    }
  }
  if (s->pending_head == s->pending.size()) {
    s->pending.clear();
    s->pending_head = 0;
  } else if (s->pending_head > 65536) {
    s->pending.erase(s->pending.begin(), s->pending.begin() + static_cast<std::ptrdiff_t>(s->pending_head));
    s->pending_head = 0;
  }
  return 1;
}

bool set_line(int fd, int baud) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return false;
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  return sio_set_line_rate(fd, Baud_rate_array[static_cast<std::size_t>(baud)]) == 1;
}

SIO_T open_device(const char* path, int port, int baud) {
  if (baud < 0 || baud >= NSERIAL_BAUD || path == nullptr) return nullptr;
  SIO_S* s = new (std::nothrow) SIO_S;
  if (s == nullptr) return nullptr;
  s->port = port;
  s->baud = baud;
  std::snprintf(s->name, sizeof s->name, "%s", path);
  s->fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (s->fd < 0 || !isatty(s->fd) || !set_line(s->fd, baud)) {
    if (s->fd >= 0) ::close(s->fd);
    delete s;
    return nullptr;
  }
  tcflush(s->fd, TCIOFLUSH);  // discard whatever was queued before we opened
  return s;
}

}  // namespace

void sio_set_tty_type(const char* type) {
  if (type == nullptr) return;
  std::snprintf(Tty_type, sizeof Tty_type, "%s", type);
}

int sio_device_name(int port, char* name, int size) {
  if (port < 0 || port >= NSERIAL_COM || name == nullptr || size <= 0) return 0;
  std::snprintf(name, static_cast<std::size_t>(size), "/dev/tty%s%d", Tty_type, port);
  return 1;
}

SIO_T sio_open(int port, int baud) {
  if (port < 0 || port >= NSERIAL_COM || baud < 0 || baud >= NSERIAL_BAUD) return nullptr;
  char name[48];
  sio_device_name(port, name, sizeof name);
  return open_device(name, port, baud);
}

SIO_T sio_open_path(const char* path, int baud) { return open_device(path, -1, baud); }

int sio_drain(SIO_T sio, int timeout_ms) {
  if (sio == nullptr) return 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (!flush_pending(sio)) return 0;
    int outq = 0;
    const bool queue_known = ioctl(sio->fd, TIOCOUTQ, &outq) == 0;
    if (sio->pending.empty() && (!queue_known || outq == 0)) {
      if (!queue_known) tcdrain(sio->fd);
      return 1;
    }
    if (std::chrono::steady_clock::now() >= deadline) return 0;
    pollfd p{sio->fd, POLLOUT, 0};
    ::poll(&p, 1, 1);
  }
}

void sio_close(SIO_T sio) {
  if (sio == nullptr) return;
  sio_drain(sio, 2000);
  ::close(sio->fd);
  delete sio;
}

int sio_baud(SIO_T sio, int baud) {
  if (sio == nullptr || baud < 0 || baud >= NSERIAL_BAUD) return 0;
  if (!sio_set_line_rate(sio->fd, Baud_rate_array[static_cast<std::size_t>(baud)])) return 0;
  sio->baud = baud;
  return 1;
}

int sio_get_baud_rate(SIO_T sio) { return sio != nullptr ? sio_get_line_rate(sio->fd) : 0; }

int sio_tx(SIO_T sio, const char* buf_p, int len) {
  if (sio == nullptr || buf_p == nullptr || len < 0) return 0;
  if (!flush_pending(sio)) return 0;
  const std::size_t queued = sio->pending.size() - sio->pending_head;
  if (queued + static_cast<std::size_t>(len) > SIO_MAX_PENDING) return 0;
  sio->pending.insert(sio->pending.end(), buf_p, buf_p + len);
  if (!flush_pending(sio)) return 0;
  return sio->pending.empty() ? len : -1;
}

int sio_rx(SIO_T sio, char* buf_p, int len) {
  if (sio == nullptr || buf_p == nullptr || len <= 0 || sio->hung_up) return 0;
  flush_pending(sio);  // keep queued output moving while the caller polls
  for (;;) {
    const ssize_t n = ::read(sio->fd, buf_p, static_cast<std::size_t>(len));
    if (n > 0) return static_cast<int>(n);
    // A raw line with VMIN = VTIME = 0 reads 0 bytes when nothing is queued;
    // after a hang-up reported by poll it is the end of the input.
    if (n == 0) {
      if (sio->hup_seen) sio->hung_up = true;
      return 0;
    }
    if (errno == EINTR) continue;
    // EAGAIN: nothing queued; EIO and the like: the far end has gone (a pty
    // whose master closed reads its remaining bytes first, then fails).
    if (errno != EAGAIN && errno != EWOULDBLOCK) sio->hung_up = true;
    return 0;
  }
}

int sio_wait(const SIO_T* ports, int n, int timeout_ms) {
  if (ports == nullptr || n < 1 || n > SIO_WAIT_MAX) return 0;
  std::array<pollfd, SIO_WAIT_MAX> fds{};
  std::array<int, SIO_WAIT_MAX> index{};
  nfds_t nfds = 0;
  for (int i = 0; i < n; ++i) {
    SIO_S* s = ports[i];
    if (s == nullptr || s->hung_up) continue;
    flush_pending(s);
    const bool queued = s->pending_head < s->pending.size();
    fds[nfds] = pollfd{s->fd, static_cast<short>(POLLIN | (queued ? POLLOUT : 0)), 0};
    index[nfds] = i;
    ++nfds;
  }
  if (::poll(fds.data(), nfds, timeout_ms < 0 ? 0 : timeout_ms) <= 0) return 0;  // time-out, signal or error
  int ready = 0;
  for (nfds_t k = 0; k < nfds; ++k) {
    SIO_S* s = ports[index[k]];
    const short ev = fds[k].revents;
    if ((ev & POLLOUT) != 0) flush_pending(s);
    if ((ev & (POLLHUP | POLLERR | POLLNVAL)) != 0) s->hup_seen = true;
    if ((ev & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0) ready |= 1 << index[k];
  }
  return ready;
}

int sio_hung_up(SIO_T sio) { return sio != nullptr && sio->hung_up ? 1 : 0; }

const char* sio_name(SIO_T sio) { return sio != nullptr ? sio->name : ""; }
