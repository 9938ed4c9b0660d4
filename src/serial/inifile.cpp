#include "serial/inifile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

namespace kline {

namespace {

namespace fs = std::filesystem;

std::string trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

enum class Load { Missing, Ok, Unusable };

// Reads the file as lines. Unusable: it exists but cannot be read, is over the size limit or
// holds NUL bytes; `why` says which.
Load loadLines(const fs::path& path, std::vector<std::string>& lines, std::string& why) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    if (!ec) return Load::Missing;
    why = "it cannot be read: " + ec.message();
    return Load::Unusable;
  }
  if (!fs::is_regular_file(path, ec)) {
    why = fs::is_directory(path, ec) ? "it is a directory" : "it is not a regular file";
    return Load::Unusable;
  }
  auto size = fs::file_size(path, ec);
  if (ec || size > IniFile::kMaxBytes) {
    why = ec ? "it cannot be read: " + ec.message() : "it is larger than 1 MiB (left as it is)";
    return Load::Unusable;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = std::string("it cannot be read: ") + std::strerror(errno);
    return Load::Unusable;
  }
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) {
    why = "it cannot be read (left as it is)";
    return Load::Unusable;
  }
  std::string all = buf.str();
  if (all.find('\0') != std::string::npos) {
    why = "it is not a text file (left as it is)";
    return Load::Unusable;
  }
  std::string line;
  std::istringstream ls(all);
  while (std::getline(ls, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return Load::Ok;
}

std::optional<std::string> sectionName(const std::string& line) {
  std::string t = trim(line);
  if (t.size() >= 2 && t.front() == '[') {
    auto close = t.find(']');
    if (close != std::string::npos) return trim(t.substr(1, close - 1));
  }
  return std::nullopt;
}

// The key of a "key=value" line, if it is one.
std::optional<std::string> keyOf(const std::string& line) {
  auto eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  std::string k = trim(line.substr(0, eq));
  if (k.empty() || k[0] == ';') return std::nullopt;
  return k;
}

// The file a path names: a symbolic link is followed to its target, so that saving updates the
// target and leaves the link in place. A loop is left to the open that follows to report.
fs::path followLinks(fs::path p) {
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(p, ec)) break;
    fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  return p;
}

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

std::string IniFile::read(const std::string& section, const std::string& key) const {
  std::vector<std::string> lines;
  std::string why;
  if (loadLines(path_, lines, why) != Load::Ok) return {};
  bool inSection = false;
  for (const auto& line : lines) {
    if (auto s = sectionName(line)) {
      inSection = sameName(*s, section);
      continue;
    }
    if (!inSection) continue;
    auto k = keyOf(line);
    if (!k || !sameName(*k, key)) continue;
    std::string v = trim(line.substr(line.find('=') + 1));
    // A value in matching quotes is given without them.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    if (v.size() > kMaxValue) v.resize(kMaxValue);
    return v;
  }
  return {};
}

bool IniFile::write(const std::string& section, const std::string& key,
                    const std::string& value) const {
  const fs::path target = followLinks(path_);
  std::vector<std::string> lines;
  std::string why;
  const Load load = loadLines(target, lines, why);
  if (load == Load::Unusable) return fail(why);

  struct stat old {};
  const bool replacing = load == Load::Ok && ::stat(target.c_str(), &old) == 0;
  // A rename would replace a read-only file as long as its folder is writable. The mode bits are
  // checked too: root may write anywhere, yet a file nobody may write is meant to stay.
  if (replacing && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0))
    return fail("the file is read-only");
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  struct stat folder {};
  if (::stat(dir.c_str(), &folder) != 0)
    return fail("cannot write in the folder " + dir.string() + ": " + errnoText());
  if ((folder.st_mode & 0222) == 0) return fail("the folder " + dir.string() + " is read-only");

  std::string entry = key + "=" + value;
  int secStart = -1;
  int lastInSection = -1;
  bool done = false;
  for (int i = 0; i < static_cast<int>(lines.size()) && !done; ++i) {
    if (auto s = sectionName(lines[i])) {
      if (secStart >= 0) break;  // past the end of our section
      if (sameName(*s, section)) secStart = lastInSection = i;
      continue;
    }
    if (secStart < 0) continue;
    if (trim(lines[i]).empty()) continue;
    lastInSection = i;
    auto k = keyOf(lines[i]);
    if (k && sameName(*k, key)) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (secStart < 0) {
      if (!lines.empty() && !trim(lines.back()).empty()) lines.push_back("");
      if (lines.size() == 1) lines.clear();
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    } else {
      lines.insert(lines.begin() + lastInSection + 1, entry);
    }
  }

  std::string out;
  for (const auto& l : lines) out += l + "\r\n";

  std::string tmp;
  // A new file gets the usual mode (less the umask); a replacement keeps the old one's.
  int fd = createTemp(target, replacing ? 0600 : 0666, tmp);
  if (fd < 0)
    return fail("cannot create a file in the folder " + dir.string() + ": " + errnoText());
  if (replacing) {
    // Only root may give the file back to its owner; anyone else saves it as their own.
    [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
    ::fchmod(fd, old.st_mode & 07777);
  }
  std::string err = writeAndSync(fd, out);
  if (::close(fd) != 0 && err.empty()) err = errnoText();
  if (err.empty() && ::rename(tmp.c_str(), target.c_str()) != 0) err = errnoText();
  if (!err.empty()) {
    ::unlink(tmp.c_str());
    return fail("writing it failed: " + err);
  }
  syncFolder(dir);
  lastError_.clear();
  return true;
}

void IniFile::onFirstFailure(std::function<void(const std::string& reason)> report) const {
  report_ = std::move(report);
  tellFirstFailure();
}

bool IniFile::fail(std::string why) const {
  lastError_ = std::move(why);
  if (firstError_.empty()) {
    firstError_ = lastError_;
    unreported_ = true;
    tellFirstFailure();
  }
  return false;
}

void IniFile::tellFirstFailure() const {
  if (!unreported_ || !report_) return;
  unreported_ = false;
  report_(firstError_);
}

}  // namespace kline
