#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "serial/filepath.h"
#include "settings/safesave.h"

namespace kline {

namespace {

namespace fs = std::filesystem;

std::string errnoText() {
  return std::strerror(errno);
}

// Creates a file of its own beside `target` (name.XXXXXX): two programs saving at once never
// share one. Returns the descriptor, or -1 with errno set.
int createTemp(const fs::path& target, mode_t mode, std::string& name) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  // Drawn afresh each time: a generator's state would be copied into forked processes.
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target.string() + ".";
    for (int i = 0; i < 6; ++i) name += kChars[rd() % (sizeof kChars - 1)];
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The save's steps through the system's calls on one descriptor.
class UnixSaveSteps : public SaveSteps {
 public:
  ~UnixSaveSteps() override {
    if (fd_ >= 0) ::close(fd_);
  }

  std::string create(const fs::path& target, bool exists, fs::path& tmp) override {
    struct stat old {};
    const bool replacing = exists && ::stat(target.c_str(), &old) == 0;
    std::string name;
    // A new file gets the usual mode (less the umask); a replacement keeps the old one's.
    fd_ = createTemp(target, replacing ? 0600 : 0666, name);
    if (fd_ < 0) return errnoText();
    tmp = name;
    if (replacing) {
      // Only root may give the file back to its owner; anyone else saves it as their own.
      [[maybe_unused]] const int owned = ::fchown(fd_, old.st_uid, old.st_gid);
      ::fchmod(fd_, old.st_mode & 07777);
    }
    return {};
  }

  std::string write(const std::string& text) override {
    for (std::size_t done = 0; done < text.size();) {
      ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errnoText();
      done += static_cast<std::size_t>(n);
    }
    return {};
  }

  std::string sync() override { return ::fsync(fd_) == 0 ? std::string() : errnoText(); }

  std::string close() override {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? std::string() : errnoText();
  }

  std::string rename(const fs::path& tmp, const fs::path& target) override {
    return ::rename(tmp.c_str(), target.c_str()) == 0 ? std::string() : errnoText();
  }

  // Some file systems cannot sync a folder.
  void syncFolder(const fs::path& dir) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
  }

  void remove(const fs::path& tmp) override { ::unlink(tmp.c_str()); }

 private:
  int fd_ = -1;
};

}  // namespace

std::ifstream OpenForReading(const fs::path& path) {
  // A rename replaces the file in one step here: a reader has the old file or the new one.
  return std::ifstream(path, std::ios::binary);
}

std::string CheckReplaceable(const fs::path& target, const fs::path& dir, bool exists) {
  struct stat old {};
  // A rename would replace a read-only file as long as its folder is writable. The mode bits are
  // checked too: root may write anywhere, yet a file nobody may write is meant to stay.
  if (exists && ::stat(target.c_str(), &old) == 0 &&
      ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
    return "the file is read-only";
  struct stat folder {};
  if (::stat(dir.c_str(), &folder) != 0)
    return "cannot write in the folder " + PathToUtf8(dir) + ": " + errnoText();
  if ((folder.st_mode & 0222) == 0) return "the folder " + PathToUtf8(dir) + " is read-only";
  return {};
}

std::unique_ptr<SaveSteps> SystemSaveSteps() {
  return std::make_unique<UnixSaveSteps>();
}

}  // namespace kline
