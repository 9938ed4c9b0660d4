// The settings file: any bytes read as a settings file never crash the reader; a value written
// reads back as written; every other section and key keeps its value through the write.
//
// Input: a name byte picking the section and key to write, a value (length byte, then the
// bytes, kept to the characters the program writes), then the file's bytes.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "settings/inifile.h"

namespace {

using kline::IniFile;

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The section and key names the file shows, found line by line as a reader of such files does:
// "[name]" opens a section, "key=value" inside one is a key (not a ";" comment).
std::vector<std::pair<std::string, std::string>> NamesIn(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream in(text);
  std::string line, section;
  bool inSection = false;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.size() >= 2 && t.front() == '[' && t.find(']') != std::string::npos) {
      section = Trim(t.substr(1, t.find(']') - 1));
      inSection = true;
      continue;
    }
    auto eq = line.find('=');
    if (!inSection || eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq));
    if (!key.empty() && key[0] != ';') out.emplace_back(section, key);
  }
  return out;
}

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream all;
  all << f.rdbuf();
  return all.str();
}

// A folder of this process, in memory where there is such a folder, removed at exit.
struct Folder {
  Folder() {
    dir = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                              : std::filesystem::temp_directory_path();
    dir /= "klinediag-fuzz-ini-" + std::to_string(::getpid());
    std::filesystem::create_directories(dir);
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path dir;
};

const std::string& Path() {
  static const Folder folder;
  static const std::string path = (folder.dir / "klinediag.ini").string();
  return path;
}

void Fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "%s: \"%s\" vs \"%s\"\n", what, a.c_str(), b.c_str());
  __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  // Names as the program writes them, and some that only differ by case or blanks.
  static const char* kSections[4] = {"Hardware", "hardware", "Other", "Second Section"};
  static const char* kKeys[4] = {"Com", "Ecu", "ECU", "long key name"};
  std::size_t pos = 0;
  auto next = [&]() -> uint8_t { return pos < size ? data[pos++] : 0; };
  uint8_t names = next();
  std::string section = kSections[names & 3], key = kKeys[(names >> 2) & 3];
  std::string value;
  for (int n = next() % 40; n > 0; --n) {
    // Printable text without surrounding blanks or quotes, as port and type values are.
    char c = static_cast<char>(0x20 + next() % 0x5F);
    value += c;
  }
  value = Trim(value);
  if (!value.empty() && (value.front() == '"' || value.front() == '\'')) value[0] = '_';
  std::string file(reinterpret_cast<const char*>(data) + pos, size - pos);

  const std::string& path = Path();
  {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << file;
  }
  IniFile ini(path);
  auto names_ = NamesIn(file);
  std::vector<std::string> before;
  for (const auto& [s, k] : names_) before.push_back(ini.read(s, k));
  ini.read(section, key);

  bool wrote = ini.write(section, key, value);
  std::string after = Slurp(path);
  if (!wrote) {
    // A file that cannot be read as text is never rewritten.
    if (after != file) Fail("file changed by a failed write", after, file);
    return 0;
  }
  std::string got = ini.read(section, key);
  if (got != value) Fail("value read back", got, value);
  for (std::size_t i = 0; i < names_.size(); ++i) {
    const auto& [s, k] = names_[i];
    if (SameName(s, section) && SameName(k, key)) continue;
    std::string now = ini.read(s, k);
    if (now != before[i]) Fail(("[" + s + "] " + k + " changed").c_str(), now, before[i]);
  }
  return 0;
}
