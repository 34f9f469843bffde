#include "os/syslog.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstddef>

namespace os {

namespace {

// The C library's syslog() may allocate; this writes the datagram itself.
class Line {
 public:
  void append(const char* text) {
    while (*text != '\0' && size_ < sizeof data_ - 1) data_[size_++] = *text++;
  }
  void appendDecimal(unsigned value) {
    char digits[16];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n > 0 && size_ < sizeof data_ - 1) data_[size_++] = digits[--n];
  }
  const char* data() const { return data_; }
  // Stream sockets take the line with its terminating NUL as the separator.
  std::size_t size(bool withTerminator) const { return size_ + (withTerminator ? 1 : 0); }

 private:
  char data_[1024] = {};
  std::size_t size_ = 0;
};

bool sendLine(int type, const Line& line) {
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // no point trying the other kind
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  constexpr char kPath[] = "/dev/log";
  for (std::size_t i = 0; i < sizeof kPath; ++i) address.sun_path[i] = kPath[i];
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  const int connectError = errno;
  if (connected) ::send(fd, line.data(), line.size(type == SOCK_STREAM), MSG_NOSIGNAL);
  ::close(fd);
  // A log socket of the other kind refuses with EPROTOTYPE.
  return connected || connectError != EPROTOTYPE;
}

}  // namespace

void sendToSyslog(const char* ident, const char* text) noexcept {
  Line line;
  line.append("<");
  line.appendDecimal(LOG_USER | LOG_ERR);
  line.append(">");
  line.append(ident);
  line.append("[");
  line.appendDecimal(static_cast<unsigned>(::getpid()));
  line.append("]: ");
  line.append(text);
  if (!sendLine(SOCK_DGRAM, line)) sendLine(SOCK_STREAM, line);
}

}  // namespace os
