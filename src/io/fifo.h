#pragma once
// Where the processes of a family find each other. The main process creates
// the shared pool and a private directory for the publication files and
// passes both to every child in the environment. Each process creates one
// input pipe, which it keeps open at both ends for its whole life (so that
// its reader never sees end of file while siblings come and go), and
// publishes it in the file prefix + "." + its sibling id as "pid:0x<fd>":
// its process id and the number of the pipe's write end. A sibling that
// wants to write to it opens that descriptor of that process through /proc.
#include <cstdint>
#include <string>

#include "os/owned_fd.h"

namespace io {

struct siblingmessenger_conf_t {
  int mapfile = -1;        // the inherited pool descriptor
  std::string fifoprefix;  // path prefix of the publication files
  std::uint32_t mapsize = 0;
};

// Reads prefix + "::mapfile", "::fifoprefix" and "::mapsize" from the
// environment. A missing value throws error::ESystemError "No mapfile passed
// in environment" (FIFO prefix, mapsize likewise); a number that is not
// plain unsigned decimal throws error::EParseError.
[[nodiscard]] siblingmessenger_conf_t readSiblingMessengerConf(const std::string& prefix);

// fifoprefix + "." + the sibling id in decimal.
[[nodiscard]] std::string publicationPath(const std::string& fifoprefix, int sibling_id);

struct InputFifo {
  os::OwnedFd readEnd;   // non-blocking, close-on-exec
  os::OwnedFd writeEnd;  // kept open, never written by this process
};
// Creates the own input pipe and publishes it at `path` (mode 0600, written
// under a temporary name and renamed into place). The directory of `path`
// must be private to this user.
[[nodiscard]] InputFifo setupFifo(const std::string& path);

struct SiblingFifo {
  os::OwnedFd writeEnd;  // non-blocking, close-on-exec
  os::OwnedFd pidfd;     // readable once the sibling has ended
  int pid = 0;
};
// Opens sibling `sibling_id`'s input pipe for writing, and its process
// descriptor, from its publication. A missing publication, or a process
// that is gone, throws error::ESystemError "Cannot duplicate sibling id " +
// id + " FIFO for writing" with the reason; a publication file or directory
// that others could write throws error::ESystemError naming it.
[[nodiscard]] SiblingFifo openFifo(const std::string& fifoprefix, int sibling_id);

// The directory of a family's publication files (main process side):
// created with mode 0700; an existing one with wider rights or another owner
// is refused.
void createFifoDirectory(const std::string& dir);

}  // namespace io
