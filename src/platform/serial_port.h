// Host serial ports for the emulated serial interface.
//
// Real ports go through libserialport. Pseudo-terminals (a socat null-modem
// pair, for instance) are not serial ports to libserialport, which looks
// every port up in sysfs, so they are driven through termios directly with
// the same settings. Whatever the port, its termios state on opening is kept
// and put back on closing.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/serial.h"

std::unique_ptr<SerialHostPort> MakeHostSerialPort();

// The host's serial ports by device name, for the configuration's list.
std::vector<std::string> ListHostSerialPorts();
