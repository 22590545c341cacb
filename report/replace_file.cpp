#include "report/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "report/file_error.h"

namespace brelin::report {
namespace {

[[noreturn]] void Fail(const std::string& path) {
  throw FileError(path, std::strerror(errno));
}

mode_t NewFileMode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Removes the temporary file unless it was renamed.
class TempFile {
 public:
  explicit TempFile(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    name_ = folder + "." + base + ".XXXXXX";
    fd_ = ::mkostemp(name_.data(), O_CLOEXEC);
    if (fd_ < 0) Fail(target);
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result;
  }
  void Release() { name_.clear(); }

 private:
  std::string name_;
  int fd_ = -1;
};

}  // namespace

void ReplaceFile(const std::string& path, std::string_view content) {
  if (path.empty()) {
    errno = ENOENT;
    Fail(path);
  }
  TempFile temp(path);
  while (!content.empty()) {
    const ssize_t n = ::write(temp.fd(), content.data(), content.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(path);
    }
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::fchmod(temp.fd(), NewFileMode(path)) != 0 || ::fsync(temp.fd()) != 0 || temp.Close() != 0) {
    Fail(path);
  }
  if (::rename(temp.name().c_str(), path.c_str()) != 0) Fail(path);
  temp.Release();
}

}  // namespace brelin::report
