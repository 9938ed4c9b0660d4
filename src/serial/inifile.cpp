#include "serial/inifile.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

namespace kline {

namespace {

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
// holds NUL bytes.
Load loadLines(const std::string& path, std::vector<std::string>& lines) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return ec ? Load::Unusable : Load::Missing;
  if (!std::filesystem::is_regular_file(path, ec)) return Load::Unusable;
  auto size = std::filesystem::file_size(path, ec);
  if (ec || size > IniFile::kMaxBytes) return Load::Unusable;
  std::ifstream in(path, std::ios::binary);
  if (!in) return Load::Unusable;
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) return Load::Unusable;
  std::string all = buf.str();
  if (all.find('\0') != std::string::npos) return Load::Unusable;
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

}  // namespace

std::string IniFile::read(const std::string& section, const std::string& key) const {
  std::vector<std::string> lines;
  if (loadLines(path_, lines) != Load::Ok) return {};
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
  std::vector<std::string> lines;
  if (loadLines(path_, lines) == Load::Unusable) return false;

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

  std::string tmp = path_ + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << out;
    f.flush();
    if (!f) {
      f.close();
      std::remove(tmp.c_str());
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(tmp, path_, ec);
  if (ec) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace kline
