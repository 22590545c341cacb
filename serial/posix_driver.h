#pragma once

#include "serial/driver.h"

namespace brelin::serial {

// The termios driver for Linux serial devices; port numbers are resolved to device paths through
// the discovery table (serial/discovery.h).
const Driver& PosixDriver();

}  // namespace brelin::serial
