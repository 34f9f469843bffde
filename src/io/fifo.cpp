#include "io/fifo.h"

#include <cerrno>
#include <charconv>
#include <optional>
#include <string_view>

#include "error/exception.h"
#include "error/parse.h"
#include "error/system_error.h"
#include "os/fd.h"
#include "os/process_fd.h"
#include "os/process_info.h"
#include "os/terminal.h"

namespace io {

namespace {

std::string requiredValue(const std::string& name, const char* missing) {
  std::optional<std::string> value = os::environmentValue(name);
  if (!value) error::throwSystemError(missing);
  return *value;
}

// The directory part of a path: what precedes the last "/" ("/" for a file
// at the root, "." when there is no "/").
std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The descriptor number as the C library prints a pointer with "%p", which
// is what readers of a publication expect.
std::string pointerText(int fd) {
  if (fd == 0) return "(nil)";
  char digits[16];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, fd, 16);
  (void)ec;
  return "0x" + std::string(digits, end);
}

struct Publication {
  int pid = 0;
  int fd = -1;
};

// "pid:0x<hex>", maybe followed by a line end; nothing when malformed.
std::optional<Publication> parsePublication(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view pid_text = text.substr(0, colon);
  std::string_view fd_text = text.substr(colon + 1);
  Publication p;
  const auto pid_end = pid_text.data() + pid_text.size();
  const auto [pid_at, pid_ec] = std::from_chars(pid_text.data(), pid_end, p.pid, 10);
  if (pid_text.empty() || pid_ec != std::errc() || pid_at != pid_end || p.pid <= 0) {
    return std::nullopt;
  }
  if (fd_text == "(nil)") {
    p.fd = 0;
    return p;
  }
  if (!fd_text.starts_with("0x")) return std::nullopt;
  fd_text.remove_prefix(2);
  const auto fd_end = fd_text.data() + fd_text.size();
  const auto [fd_at, fd_ec] = std::from_chars(fd_text.data(), fd_end, p.fd, 16);
  if (fd_text.empty() || fd_ec != std::errc() || fd_at != fd_end || p.fd < 0) return std::nullopt;
  return p;
}

}  // namespace

siblingmessenger_conf_t readSiblingMessengerConf(const std::string& prefix) {
  const std::string mapfile =
      requiredValue(prefix + "::mapfile", "No mapfile passed in environment");
  std::string fifoprefix =
      requiredValue(prefix + "::fifoprefix", "No FIFO prefix passed in environment");
  const std::string mapsize =
      requiredValue(prefix + "::mapsize", "No mapsize passed in environment");
  siblingmessenger_conf_t conf;
  const std::uint32_t fd = error::parseUnsigned(mapfile);
  // A descriptor number is an int: a larger value cannot name one.
  if (fd > 0x7fffffffU) throw error::EParseError("Error parsing: " + error::quoteEscaped(mapfile));
  conf.mapfile = static_cast<int>(fd);
  conf.fifoprefix = std::move(fifoprefix);
  conf.mapsize = error::parseUnsigned(mapsize);
  return conf;
}

std::string publicationPath(const std::string& fifoprefix, int sibling_id) {
  return fifoprefix + "." + std::to_string(sibling_id);
}

InputFifo setupFifo(const std::string& path) {
  os::checkPrivateDirectory(directoryOf(path));
  const os::PipeEnds ends = os::makePipe();
  InputFifo fifo{os::OwnedFd(ends.readEnd), os::OwnedFd(ends.writeEnd)};
  os::setNonblocking(fifo.readEnd.get(), true);
  os::writeFileAtomically(
      path, std::to_string(os::currentProcessId()) + ":" + pointerText(fifo.writeEnd.get()) + "\n",
      0600);
  return fifo;
}

SiblingFifo openFifo(const std::string& fifoprefix, int sibling_id) {
  const std::string path = publicationPath(fifoprefix, sibling_id);
  const std::string failure =
      "Cannot duplicate sibling id " + std::to_string(sibling_id) + " FIFO for writing";
  os::checkPrivateDirectory(directoryOf(path));
  const os::PrivateFileRead read = os::readPrivateFile(path);
  if (read.error != 0) error::throwSystemError(failure, read.error);
  const std::optional<Publication> published = parsePublication(read.text);
  if (!published) {
    error::throwSystemError(failure + ": malformed publication " + path + " " +
                            error::quoteEscaped(read.text));
  }
  // The process descriptor first: it names this process even if the number
  // is reused. A descriptor opened through /proc afterwards belongs to it
  // when the process has not ended by then.
  os::OpenResult pidfd = os::openPidFd(published->pid);
  if (pidfd.error != 0) error::throwSystemError(failure, pidfd.error);
  os::OpenResult pipe = os::openOtherProcessFd(published->pid, published->fd);
  if (pipe.error != 0) error::throwSystemError(failure, pipe.error);
  if (os::pidFdEnded(pidfd.fd.get())) error::throwSystemError(failure, ESRCH);
  // A stale publication whose process number now belongs to another process
  // of ours could name any of its files: only a pipe is written to.
  if (!os::isPipe(pipe.fd.get())) {
    error::throwSystemError(failure + ": descriptor " + std::to_string(published->fd) +
                            " of process " + std::to_string(published->pid) + " is not a pipe");
  }
  return {std::move(pipe.fd), std::move(pidfd.fd), published->pid};
}

void createFifoDirectory(const std::string& dir) { os::createPrivateDirectory(dir); }

}  // namespace io
