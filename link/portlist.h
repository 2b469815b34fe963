// The port list: the serial ports this machine has, as the paths ComPort opens. Read
// from sysfs and the device folder without opening any port: an open pulses DTR and RTS
// on a device that may be in use, and a port held by another program or closed to the
// user would drop out of the list.
#pragma once

#include <string>
#include <vector>

// One entry per serial port, sorted case-insensitively character by character (so
// "/dev/ttyUSB10" comes before "/dev/ttyUSB2"), duplicates kept:
//  - every tty in ttyClassDir with a "device" link, as devDir + "/" + its name; a legacy
//    8250 port (ttyS*) only when its "type" attribute is not 0 (0 means no UART there)
//    or cannot be read;
//  - every symbolic link directly in devDir whose own target is a pseudo-terminal slave
//    "/dev/pts/N" (how socat and the simulated device publish a virtual port), under the
//    link's path.
// A folder that cannot be read raises EComPort "Registry error" with the errno. The
// program always reads the system's folders; tests pass a tree of their own.
std::vector<std::string> ComPortNames(const std::string& ttyClassDir = "/sys/class/tty",
                                      const std::string& devDir = "/dev");
