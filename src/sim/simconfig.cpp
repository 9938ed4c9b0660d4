#include "sim/simconfig.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>
#include <vector>

#include "serial/filepath.h"

namespace kline {

namespace {

// The names the description's "type" takes, by protocol family: "15m, 16m, 15rc, p8 or
// p8-sensor".
std::string typeNamesText() {
  std::vector<const EcuTypeInfo*> types;
  for (const EcuTypeInfo& t : EcuTypes()) types.push_back(&t);
  std::stable_sort(types.begin(), types.end(),
                   [](const EcuTypeInfo* a, const EcuTypeInfo* b) { return a->sim < b->sim; });
  std::string out;
  for (std::size_t i = 0; i < types.size(); ++i) {
    if (i) out += i + 1 == types.size() ? " or " : ", ";
    out += types[i]->cliName;
  }
  return out;
}

}  // namespace

EcuType ParseEcuType(const std::string& name) {
  if (const EcuTypeInfo* t = EcuTypeOfCliName(name)) return t->sim;
  throw std::invalid_argument("unknown ECU type '" + name + "' (expected " + typeNamesText() + ")");
}

ByteString ParseHexBytes(const std::string& hex) {
  std::string digits;
  for (char c : hex) {
    if (c == ' ' || c == '\t' || c == ',') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c)))
      throw std::invalid_argument("'" + hex + "' is not hexadecimal bytes");
    digits += c;
  }
  if (digits.size() % 2) throw std::invalid_argument("'" + hex + "' has an odd number of digits");
  ByteString out;
  for (std::size_t i = 0; i < digits.size(); i += 2)
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  return out;
}

std::string ReadSimFile(const std::string& path, std::string& text) {
  std::string what = "cannot read the simulator description " + path + ": ";
  std::error_code ec;
  auto size = std::filesystem::file_size(PathFromUtf8(path), ec);
  if (ec) return what + ec.message();
  if (size > kMaxSimFileBytes)
    return "the simulator description " + path + " has " + std::to_string(size) +
           " bytes; at most " + std::to_string(kMaxSimFileBytes) + " (1 MiB) are read";
  std::ifstream in(PathFromUtf8(path), std::ios::binary);
  if (!in) return what + std::strerror(errno);
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return what + std::strerror(errno);
  text = all.str();
  return {};
}

ByteString SimConfig::DefaultBurst() {
  return ParseHexBytes("00 55 A3 8F 10 15 02");
}

namespace {

using nlohmann::json;

// Millisecond delays are whole numbers up to a week; latencies are short and may be fractional.
constexpr double kMaxDelayMs = 604800000;
constexpr double kMaxLatencyMs = 60000;
constexpr const char* kDelayRange = "whole milliseconds from 0 to 604800000";
constexpr const char* kLatencyRange = "milliseconds from 0 to 60000";

constexpr const char* kKeys[] = {
    "type",        "ignition_ms", "burst",           "latency_ms",    "echo",
    "garble_echo", "answers",     "silent",          "replies",       "wrong_echo",
    "stray",       "late_ms",     "silent_after_ms", "lost_after_ms", "babble",
    "tests"};
constexpr const char* kTestKeys[] = {"answer", "verdict", "after_ms"};

[[noreturn]] void fail(const std::string& key, const std::string& why) {
  throw std::runtime_error("\"" + key + "\": " + why);
}

// How deep lists and objects nest in v, counted without recursion.
std::size_t depthOf(const json& v) {
  std::size_t deepest = 0;
  std::vector<std::pair<const json*, std::size_t>> todo{{&v, 0}};
  while (!todo.empty()) {
    auto [p, depth] = todo.back();
    todo.pop_back();
    if (!p->is_structured()) continue;
    deepest = std::max(deepest, depth + 1);
    for (const json& e : *p) todo.emplace_back(&e, depth + 1);
  }
  return deepest;
}

// A value as a message shows it. Writing it out recurses once per level, and a description of
// 1 MiB can nest deep enough to overflow the stack: such a value is only named.
std::string shown(const json& v) {
  if (depthOf(v) > 16) return v.is_array() ? "a deeply nested list" : "a deeply nested object";
  return v.dump();
}

// Refuses a value of the wrong type, naming what the key takes.
[[noreturn]] void wrongType(const std::string& key, const json& v, const std::string& takes) {
  fail(key, shown(v) + " is not " + takes);
}

template <std::size_t N>
void onlyKnownKeys(const json& object, const char* const (&allowed)[N], const std::string& where) {
  for (const auto& item : object.items()) {
    bool known = false;
    for (const char* k : allowed) known = known || item.key() == k;
    if (known) continue;
    std::string list;
    for (const char* k : allowed) list += (list.empty() ? "" : ", ") + std::string(k);
    throw std::runtime_error("unknown key \"" + item.key() + "\"" + where + " (allowed: " + list +
                             ")");
  }
}

// The range is checked on the double: converting an out-of-range double to int is undefined.
int delayOf(const json& v, const std::string& key) {
  if (!v.is_number()) wrongType(key, v, std::string("a number (") + kDelayRange + ")");
  double d = v.get<double>();
  if (!(d >= 0 && d <= kMaxDelayMs)) fail(key, v.dump() + " is out of range (" + kDelayRange + ")");
  if (d != std::floor(d)) fail(key, v.dump() + " is not a whole number (" + kDelayRange + ")");
  return static_cast<int>(d);
}

double latencyOf(const json& v, const std::string& key) {
  if (!v.is_number()) wrongType(key, v, std::string("a number (") + kLatencyRange + ")");
  double d = v.get<double>();
  if (!(d >= 0 && d <= kMaxLatencyMs))
    fail(key, v.dump() + " is out of range (" + kLatencyRange + ")");
  return d;
}

uint8_t codeOf(const std::string& key, const std::string& where) {
  ByteString b;
  try {
    std::string k = key;
    if (k.size() > 2 && k[0] == '0' && (k[1] == 'x' || k[1] == 'X')) k = k.substr(2);
    b = ParseHexBytes(k.size() == 1 ? "0" + k : k);
  } catch (const std::invalid_argument&) {
  }
  if (b.size() != 1) fail(where, "'" + key + "' is not a one-byte hex code");
  return static_cast<uint8_t>(b[0]);
}

uint8_t byteOf(const json& v, const std::string& key) {
  if (v.is_string()) return codeOf(v.get<std::string>(), key);
  if (v.is_number_integer()) {
    double d = v.get<double>();
    if (d >= 0 && d <= 255) return static_cast<uint8_t>(d);
  }
  wrongType(key, v, "a byte (hex text such as \"4F\", or 0 to 255)");
}

ByteString bytesOf(const json& v, const std::string& key) {
  if (!v.is_string()) wrongType(key, v, "hex text (such as \"0F 55\")");
  try {
    return ParseHexBytes(v.get<std::string>());
  } catch (const std::invalid_argument& e) {
    fail(key, e.what());
  }
}

const json& objectOf(const json& j, const std::string& key, const char* of) {
  const auto& v = j.at(key);
  if (!v.is_object()) wrongType(key, v, std::string("an object of ") + of);
  return v;
}

}  // namespace

SimConfig SimConfig::FromJson(const std::string& text, EcuType defaultType) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    // Not only syntax: a number too large for any type ("1E888") is refused by the parser too.
    throw std::runtime_error(std::string("not valid JSON: ") + e.what());
  }
  if (!j.is_object()) throw std::runtime_error("expected a JSON object");
  onlyKnownKeys(j, kKeys, "");
  SimConfig c;
  c.type = defaultType;
  c.burst = DefaultBurst();
  try {
    if (j.contains("type")) {
      const json& t = j["type"];
      if (!t.is_string()) wrongType("type", t, "text (" + typeNamesText() + ")");
      try {
        c.type = ParseEcuType(t.get<std::string>());
      } catch (const std::invalid_argument& e) {
        fail("type", e.what());
      }
      c.typeGiven = true;
    }
    if (j.contains("ignition_ms")) c.ignitionMs = delayOf(j["ignition_ms"], "ignition_ms");
    if (j.contains("burst")) c.burst = bytesOf(j["burst"], "burst");
    if (j.contains("latency_ms")) c.latencyMs = latencyOf(j["latency_ms"], "latency_ms");
    if (j.contains("echo")) {
      if (!j["echo"].is_boolean()) wrongType("echo", j["echo"], "true or false");
      c.echo = j["echo"].get<bool>();
    }
    if (j.contains("garble_echo")) {
      if (!j["garble_echo"].is_boolean())
        wrongType("garble_echo", j["garble_echo"], "true or false");
      c.garbleEcho = j["garble_echo"].get<bool>();
    }
    if (j.contains("silent_after_ms"))
      c.silentAfterMs = delayOf(j["silent_after_ms"], "silent_after_ms");
    if (j.contains("lost_after_ms")) c.lostAfterMs = delayOf(j["lost_after_ms"], "lost_after_ms");
    if (j.contains("babble")) c.babble = bytesOf(j["babble"], "babble");
    if (j.contains("answers"))
      for (auto& [k, v] : objectOf(j, "answers", "hex code to answer byte").items())
        c.answers[codeOf(k, "answers")] = byteOf(v, "answers." + k);
    if (j.contains("silent")) {
      if (!j["silent"].is_array()) wrongType("silent", j["silent"], "a list of hex codes");
      for (const auto& v : j["silent"]) c.silent.insert(byteOf(v, "silent"));
    }
    if (j.contains("replies"))
      for (auto& [k, v] : objectOf(j, "replies", "hex code to hex bytes").items())
        c.replies[codeOf(k, "replies")] = bytesOf(v, "replies." + k);
    if (j.contains("wrong_echo"))
      for (auto& [k, v] : objectOf(j, "wrong_echo", "hex code to echoed byte").items())
        c.wrongEcho[codeOf(k, "wrong_echo")] = byteOf(v, "wrong_echo." + k);
    if (j.contains("stray"))
      for (auto& [k, v] : objectOf(j, "stray", "hex code to hex bytes").items())
        c.stray[codeOf(k, "stray")] = bytesOf(v, "stray." + k);
    if (j.contains("tests"))
      for (auto& [k, v] : objectOf(j, "tests", "hex code to test").items()) {
        std::string where = "tests." + k;
        if (!v.is_object()) wrongType(where, v, "an object (answer, verdict, after_ms)");
        onlyKnownKeys(v, kTestKeys, " in \"" + where + "\"");
        Test t;
        if (v.contains("answer")) t.answer = byteOf(v["answer"], where + ".answer");
        if (v.contains("verdict"))
          t.verdict =
              v["verdict"].is_null() ? ByteString() : bytesOf(v["verdict"], where + ".verdict");
        if (v.contains("after_ms")) t.afterMs = delayOf(v["after_ms"], where + ".after_ms");
        c.tests[codeOf(k, "tests")] = t;
      }
    if (j.contains("late_ms"))
      for (auto& [k, v] : objectOf(j, "late_ms", "hex code to milliseconds").items())
        c.lateMs[codeOf(k, "late_ms")] = latencyOf(v, "late_ms." + k);
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("bad value: ") + e.what());
  }
  return c;
}

}  // namespace kline
