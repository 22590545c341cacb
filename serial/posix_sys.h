#pragma once

#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

namespace brelin::serial {

// Every system call of the termios driver goes through this table, so tests can make any of them
// fail (EINTR a number of times, EIO, ...) and then forward to the real call.
struct SysCalls {
  int (*open)(const char* path, int flags);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, size_t n);
  ssize_t (*write)(int fd, const void* data, size_t n);
  int (*ioctl)(int fd, unsigned long request, void* arg);
  int (*tcgetattr)(int fd, termios* settings);
  int (*tcsetattr)(int fd, int when, const termios* settings);
  int (*tcflush)(int fd, int queue);
  int (*flock)(int fd, int operation);
  int (*poll)(pollfd* fds, nfds_t n, int timeout);
  int (*stat)(const char* path, struct stat* info);  // who may use a port that refused the user
};

// The table in use; starts with the real calls.
SysCalls& Sys();
const SysCalls& RealSysCalls();

}  // namespace brelin::serial
