#include "os/file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "error/system_error.h"
#include "os/fd.h"

namespace os {

std::string readWholeFile(const std::string& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) error::throwSystemError("Cannot open " + path, errno);
  std::string content;
  std::uint8_t buffer[64 * 1024];
  for (;;) {
    const IoResult r = readSome(fd, buffer, sizeof buffer);
    if (r.error != 0) {
      closeFdQuietly(fd);
      error::throwSystemError("Cannot read " + path, r.error);
    }
    if (r.bytes == 0) break;
    content.append(reinterpret_cast<const char*>(buffer), r.bytes);
  }
  closeFdQuietly(fd);
  return content;
}

}  // namespace os
