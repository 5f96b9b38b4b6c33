#pragma once
// The serial devices that can be opened right now, for the COM port list. A device counts when it
// opens as a tty and nobody holds it (the same exclusive probe an open does); ports in use, this
// program's own included, are left out. Dialog thread; each probe opens and closes the device.
#include <string>
#include <vector>

// Probes devDir/ttyS*, ttyUSB*, ttyACM*, ttyAMA* and rfcomm*, plus every name in `extraNames`
// (full paths such as a simulator's /dev/pts/N), and returns the names that passed, sorted and
// without repeats. `devDir` is "/dev" in the viewer; tests pass a directory of their own.
std::vector<std::string> EnumerateComPorts(const std::string& devDir,
                                           const std::vector<std::string>& extraNames);

// True when `path` opens as a tty that no one else has locked.
bool ProbeComPort(const std::string& path);

// True for a /dev entry name the port list watches (the tty* and rfcomm* families).
bool IsWatchedPortName(const std::string& name);
