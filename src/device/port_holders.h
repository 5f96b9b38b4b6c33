#pragma once
// Other processes that hold a serial device open. The exclusive open (TIOCEXCL and flock) keeps
// out later openers that honour it, but not a program that opened the port earlier, nor one
// running as root: such a program takes bytes meant for the viewer, which then sees a time-out
// and no frames. Linux cannot forbid that, so the session names those processes to the user.
// Plain functions, any thread; they read /proc as far as permissions allow.
#include <sys/types.h>

#include <string>
#include <vector>

struct PortHolder {
    pid_t pid = 0;
    std::string command;  // the command line, arguments separated by spaces
};

// The processes other than `self` with an open descriptor on the device `path` names (through
// links too: devices are compared by their device number, other files by inode). A process that
// holds the master side of the same pseudo-terminal is the far end of the line (a simulated
// module), not a competitor, and is left out. Processes whose descriptors cannot be read are
// skipped. Sorted by PID.
std::vector<PortHolder> FindPortHolders(const std::string& path, pid_t self);

// The log line naming `holders` for the port `name`, ending in "\r\n"; empty when there are none.
std::string PortHoldersLogLine(const std::string& name, const std::vector<PortHolder>& holders);
