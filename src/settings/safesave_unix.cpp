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

// Writes all of `text` and syncs it to disk; empty, or why not.
std::string writeAndSync(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errnoText();
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0) return errnoText();
  return {};
}

// Makes the rename itself durable. Some file systems cannot sync a folder; the rename is done
// either way.
void syncFolder(const fs::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

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

std::string ReplaceContent(const fs::path& target, const fs::path& dir, const std::string& text,
                           bool exists) {
  struct stat old {};
  const bool replacing = exists && ::stat(target.c_str(), &old) == 0;
  std::string tmp;
  // A new file gets the usual mode (less the umask); a replacement keeps the old one's.
  int fd = createTemp(target, replacing ? 0600 : 0666, tmp);
  if (fd < 0) return "cannot create a file in the folder " + PathToUtf8(dir) + ": " + errnoText();
  if (replacing) {
    // Only root may give the file back to its owner; anyone else saves it as their own.
    [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
    ::fchmod(fd, old.st_mode & 07777);
  }
  std::string err = writeAndSync(fd, text);
  if (::close(fd) != 0 && err.empty()) err = errnoText();
  if (err.empty() && ::rename(tmp.c_str(), target.c_str()) != 0) err = errnoText();
  if (!err.empty()) {
    ::unlink(tmp.c_str());
    return "writing it failed: " + err;
  }
  syncFolder(dir);
  return {};
}

}  // namespace kline
