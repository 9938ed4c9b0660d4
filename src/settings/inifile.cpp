#include "settings/inifile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "serial/filepath.h"
#include "serial/text.h"
#include "settings/safesave.h"

namespace kline {

namespace {

namespace fs = std::filesystem;

bool sameName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AsciiLower(a) == AsciiLower(b);
}

enum class Load { Missing, Ok, Unusable };

// Whether the bytes can be a text someone wrote: no control characters but tab, the line ends,
// vertical tab and form feed. Bytes from 0x80 up are left alone: a file in a Windows code page is
// text too.
bool IsText(const std::string& bytes) {
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && (c < '\t' || c > '\r')) || c == 0x7F) return false;
  }
  return true;
}

// Reads the file as lines. Unusable: it exists but cannot be read, is over the size limit or is
// not text; `why` says which.
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
  std::ifstream in = OpenForReading(path);
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
  if (!IsText(all)) {
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
  std::string t = Trim(line);
  if (t.size() >= 2 && t.front() == '[') {
    auto close = t.find(']');
    if (close != std::string::npos) return Trim(t.substr(1, close - 1));
  }
  return std::nullopt;
}

// The key of a "key=value" line, if it is one.
std::optional<std::string> keyOf(const std::string& line) {
  auto eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  std::string k = Trim(line.substr(0, eq));
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

}  // namespace

std::string IniFile::read(const std::string& section, const std::string& key) const {
  std::vector<std::string> lines;
  std::string why;
  if (loadLines(PathFromUtf8(path_), lines, why) != Load::Ok) return {};
  bool inSection = false;
  for (const auto& line : lines) {
    if (auto s = sectionName(line)) {
      inSection = sameName(*s, section);
      continue;
    }
    if (!inSection) continue;
    auto k = keyOf(line);
    if (!k || !sameName(*k, key)) continue;
    std::string v = Trim(line.substr(line.find('=') + 1));
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
  const fs::path target = followLinks(PathFromUtf8(path_));
  std::vector<std::string> lines;
  std::string why;
  const Load load = loadLines(target, lines, why);
  if (load == Load::Unusable) return fail(why);

  const bool exists = load == Load::Ok;
  const fs::path dir = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (std::string why = CheckReplaceable(target, dir, exists); !why.empty())
    return fail(std::move(why));

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
    if (Trim(lines[i]).empty()) continue;
    lastInSection = i;
    auto k = keyOf(lines[i]);
    if (k && sameName(*k, key)) {
      lines[i] = entry;
      done = true;
    }
  }
  if (!done) {
    if (secStart < 0) {
      if (!lines.empty() && !Trim(lines.back()).empty()) lines.push_back("");
      if (lines.size() == 1) lines.clear();
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    } else {
      lines.insert(lines.begin() + lastInSection + 1, entry);
    }
  }

  std::string out;
  for (const auto& l : lines) out += l + "\r\n";

  if (std::string why = ReplaceContent(target, dir, out, exists); !why.empty())
    return fail(std::move(why));
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
