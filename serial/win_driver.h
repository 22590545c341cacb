#pragma once

#include <cstdint>

#include "serial/driver.h"

namespace brelin::serial {

// The driver for the COM ports of Windows; port index n opens \\.\COM(n+1).
const Driver& WindowsDriver();

// kOk when a platform with this GetVersion word can be served; kNotSupported for Win32s (top bit
// set and major version 3).
int CheckPlatformVersion(std::uint32_t versionWord);

// Where the platform check reads the version word; tests inject one. nullptr restores GetVersion.
using VersionSource = std::uint32_t (*)();
void SetVersionSource(VersionSource source);

// Receive and transmit queue sizes requested at every open.
inline constexpr int kDefaultInQueueSize = 1050;
inline constexpr unsigned kDefaultOutQueueSize = 1050;

}  // namespace brelin::serial
