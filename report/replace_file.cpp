#include "report/replace_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "report/file_error.h"
#include "report/utf8_path.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace brelin::report {
namespace {

constexpr int kMaxLinks = 40;  // as many as the system itself follows

[[noreturn]] void Fail(const std::string& path, int error = errno) {
  throw FileError(path, std::strerror(error));
}

#ifdef _WIN32

int CreateTemp(std::string& name) {
  const std::string stem = name;
  for (unsigned attempt = 0;; ++attempt) {
    name = stem + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt);
    const int fd = _open(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST || attempt == 1000) return fd;
  }
}
int WriteSome(int fd, std::string_view data) {
  return _write(fd, data.data(),
                static_cast<unsigned>(std::min<std::size_t>(data.size(), 1 << 30)));
}
int Finish(int fd, const std::string&) {
  return _commit(fd) == 0 && _close(fd) == 0 ? 0 : -1;
}
void Rename(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    throw FileError(to, std::system_category().message(static_cast<int>(GetLastError())));
  }
}

#else

int CreateTemp(std::string& name) {
  name += "XXXXXX";
  return ::mkostemp(name.data(), O_CLOEXEC);
}
int WriteSome(int fd, std::string_view data) {
  return static_cast<int>(::write(fd, data.data(), std::min<std::size_t>(data.size(), 1 << 30)));
}
// Gives the file the permissions a plain create would have, and makes it durable before the
// rename publishes it.
int Finish(int fd, const std::string& target) {
  mode_t mode;
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const bool ok = ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !ok) {
    if (!ok) errno = saved;
    return -1;
  }
  return 0;
}
void Rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) Fail(to);
  // The rename is an entry of the folder: sync the folder too, or a crash may undo it. Some file
  // systems cannot sync a folder; the rename has happened all the same.
  const std::string folder = std::filesystem::path(to).parent_path().string();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

#endif

// Removes the temporary file unless it was renamed.
class TempFile {
 public:
  explicit TempFile(const std::string& target) {
    const std::size_t slash = target.find_last_of("/\\");
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
    name_ = target.substr(0, base) + "." + target.substr(base) + ".";
    fd_ = CreateTemp(name_);
    if (fd_ < 0) {
      name_.clear();
      Fail(target);
    }
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  void Write(const std::string& target, std::string_view content) {
    while (!content.empty()) {
      const int n = WriteSome(fd_, content);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(target, n < 0 ? errno : EIO);
      content.remove_prefix(static_cast<std::size_t>(n));
    }
    const int fd = fd_;
    fd_ = -1;
    if (Finish(fd, target) != 0) Fail(target);
  }
  void RenameTo(const std::string& target) {
    Rename(name_, target);
    name_.clear();
  }

 private:
  std::string name_;
  int fd_ = -1;
};

}  // namespace

std::string ReplaceTarget(const std::string& path) {
  if (path.empty()) Fail(path, ENOENT);
  namespace fs = std::filesystem;
  fs::path target = Utf8Path(path);
  std::error_code error;
  for (int links = 0; fs::is_symlink(fs::symlink_status(target, error)); ++links) {
    if (links == kMaxLinks) Fail(path, ELOOP);
    const fs::path next = fs::read_symlink(target, error);
    if (error) Fail(path, error.value());
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  const fs::file_status status = fs::status(target, error);
  if (fs::is_directory(status)) Fail(path, EISDIR);
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    throw FileError(path, "not a regular file");
  }
  return Utf8String(target);
}

void ReplaceFileContent(const std::string& path, std::string_view content) {
  const std::string target = ReplaceTarget(path);
  TempFile temp(target);
  temp.Write(target, content);
  temp.RenameTo(target);
}

void MoveIntoPlace(const std::string& from, const std::string& to) {
  Rename(from, ReplaceTarget(to));
}

}  // namespace brelin::report
