#include "livedata/recording.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <string_view>

#include "serial/filepath.h"

namespace kline {

namespace {

// Splits at every comma; quotes are not ours, so a quoted field is simply a bad number.
void Split(std::string_view line, std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = line.find(',', start);
    if (comma == std::string_view::npos) {
      fields.push_back(line.substr(start));
      return;
    }
    fields.push_back(line.substr(start, comma - start));
    start = comma + 1;
  }
}

bool ParseTime(std::string_view s, uint32_t& out) {
  if (s.empty() || s.size() > 10) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > std::numeric_limits<uint32_t>::max()) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// An empty field is NaN; otherwise a plain decimal number, nothing else ("nan" and "inf" are
// not numbers of ours).
bool ParseValue(std::string_view s, float& out) {
  if (s.empty()) {
    out = std::numeric_limits<float>::quiet_NaN();
    return true;
  }
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
      return false;
  // from_chars takes no '+', and one sign only.
  if (s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s.front() == '-') return false;
  }
  const char* end = s.data() + s.size();
  auto [ptr, ec] = std::from_chars(s.data(), end, out);
  return ec == std::errc() && ptr == end && std::isfinite(out);
}

class Reader {
 public:
  explicit Reader(Recording& r) : r_(r) {}

  // One line without its line end; `overlong`: it was longer than kept, `truncated`: no line end.
  void line(std::string_view text, bool overlong, bool truncated) {
    ++lineNo_;
    if (lineNo_ == 1) return header(text, overlong, truncated);
    if (!r_.error.empty()) return;
    if (overlong) return skip("a line over 64 KiB");
    if (truncated) return skip("a truncated line");
    if (text.empty()) return skip("an empty line");
    Split(text, fields_);
    if (fields_.size() != columns_.size())
      return skip(std::to_string(fields_.size()) + " fields instead of " +
                  std::to_string(columns_.size()));
    uint32_t t = 0;
    if (!ParseTime(fields_[0], t)) return skip("a bad number in \"time_ms\"");
    values_.resize(r_.channels.size());
    for (std::size_t i = 0; i < r_.channels.size(); ++i)
      if (!ParseValue(fields_[i + 2], values_[i]))
        return skip("a bad number in \"" + columns_[i + 2] + "\"");
    r_.timesMs.push_back(t);
    for (std::size_t i = 0; i < r_.channels.size(); ++i)
      r_.channels[i].values.push_back(values_[i]);
  }

  bool atHeader() const { return lineNo_ == 0; }

  void end() {
    if (lineNo_ == 0 && r_.error.empty()) r_.error = "an empty file, not a klinediag recording";
  }

 private:
  void header(std::string_view text, bool overlong, bool truncated) {
    if (overlong) {
      r_.error = "not a klinediag recording: its first line is over 64 KiB";
      return;
    }
    // The byte order mark that tells Windows spreadsheets the text is UTF-8.
    if (text.substr(0, 3) == kUtf8Bom) text.remove_prefix(3);
    Split(text, fields_);
    if (fields_.size() < 2 || fields_[0] != "time_ms" || fields_[1] != "time") {
      r_.error = "not a klinediag recording: its first line does not start with time_ms,time";
      return;
    }
    // The recorder ends its first line before any row: without its end it was cut short, and
    // its last column name may be cut too.
    if (truncated) {
      r_.error = "not a klinediag recording: its first line is cut short";
      return;
    }
    if (fields_.size() - 2 > kMaxRecordingChannels) {
      r_.error = "not a klinediag recording: " + std::to_string(fields_.size() - 2) +
                 " channels, more than the " + std::to_string(kMaxRecordingChannels) + " read";
      return;
    }
    for (auto f : fields_) columns_.emplace_back(f);
    for (std::size_t i = 2; i < fields_.size(); ++i) {
      RecordedChannel c;
      std::string_view f = fields_[i];
      const std::size_t open = f.rfind(" [");
      if (open != std::string_view::npos && f.size() > open + 2 && f.back() == ']') {
        c.name = f.substr(0, open);
        c.unit = f.substr(open + 2, f.size() - open - 3);
      } else {
        c.name = f;
      }
      r_.channels.push_back(std::move(c));
    }
  }

  void skip(std::string why) {
    if (r_.skipped++ == 0) {
      r_.firstBadLine = lineNo_;
      r_.skipReason = std::move(why);
    }
  }

  Recording& r_;
  std::size_t lineNo_ = 0;
  std::vector<std::string> columns_;
  std::vector<std::string_view> fields_;
  std::vector<float> values_;
};

}  // namespace

std::string Recording::skipLine() const {
  if (skipped == 0) return {};
  const std::size_t rows = timesMs.size();
  return std::to_string(rows) + (rows == 1 ? " row; " : " rows; ") + std::to_string(skipped) +
         " skipped, the first at line " + std::to_string(firstBadLine) + ": " + skipReason;
}

Recording ReadRecording(const std::string& path) {
  std::ifstream file(PathFromUtf8(path), std::ios::binary);
  if (!file) {
    Recording r;
    r.error = std::string("cannot be read: ") + std::strerror(errno);
    return r;
  }
  return ReadRecording(file);
}

Recording ReadRecording(std::istream& file) {
  Recording r;
  Reader reader(r);
  std::vector<char> buf(1 << 20);
  std::string cur;  // the line so far, while it is not over the limit
  bool overlong = false;
  bool afterCr = false;  // the last line ended at a CR: an LF right after it belongs to it
  while (r.error.empty()) {
    file.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto n = static_cast<std::size_t>(file.gcount());
    if (n == 0) break;
    const char* p = buf.data();
    const char* end = p + n;
    // The next LF and CR at or after p (end: none in the buffer). Each is looked for again only
    // once p has passed it, so a buffer without one of them is not searched once per line.
    const char* lf = nullptr;
    const char* cr = nullptr;
    auto next = [&](const char*& at, char c) {
      if (at && at >= p) return;
      const void* hit = std::memchr(p, c, static_cast<std::size_t>(end - p));
      at = hit ? static_cast<const char*>(hit) : end;
    };
    while (p < end && r.error.empty()) {
      if (afterCr) {
        afterCr = false;
        if (*p == '\n') {
          ++p;
          continue;
        }
      }
      next(lf, '\n');
      next(cr, '\r');
      const char* stop = std::min(lf, cr);
      const bool ended = stop != end;
      const auto len = static_cast<std::size_t>(stop - p);
      if (!overlong) {
        if (cur.size() + len > kMaxRecordingLine) {
          overlong = true;
          cur.clear();
          // A first line this long refuses the file: nothing more is read.
          if (reader.atHeader()) reader.line({}, true, false);
        } else if (ended && cur.empty()) {
          // The common case: the whole line is in the buffer.
          reader.line(std::string_view(p, len), false, false);
          afterCr = *stop == '\r';
          p = stop + 1;
          continue;
        } else {
          cur.append(p, len);
        }
      }
      if (!ended) break;
      if (!r.error.empty()) break;
      reader.line(cur, overlong, false);
      cur.clear();
      overlong = false;
      afterCr = *stop == '\r';
      p = stop + 1;
    }
  }
  if (file.bad() && r.error.empty())
    r.error = std::string("cannot be read: ") + std::strerror(errno);
  else if (r.error.empty() && (!cur.empty() || overlong))
    reader.line(cur, overlong, true);
  reader.end();
  return r;
}

}  // namespace kline
