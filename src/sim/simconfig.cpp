#include "sim/simconfig.h"

#include <cctype>
#include <nlohmann/json.hpp>

namespace kline {

EcuType ParseEcuType(const std::string& name) {
  std::string l;
  for (char c : name) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (l == "15m") return EcuType::E15m;
  if (l == "16m") return EcuType::E16m;
  if (l == "15rc") return EcuType::E15Rc;
  if (l == "p8" || l == "p8-sensor") return EcuType::P8;
  throw std::invalid_argument("unknown ECU type '" + name +
                              "' (expected 15m, 16m, 15rc, p8 or p8-sensor)");
}

const char* EcuTypeName(EcuType t) {
  switch (t) {
    case EcuType::E15m:
      return "15m";
    case EcuType::E16m:
      return "16m";
    case EcuType::E15Rc:
      return "15Rc";
    case EcuType::P8:
      return "P8";
  }
  return "?";
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

ByteString SimConfig::DefaultBurst() {
  return ParseHexBytes("00 55 A3 8F 10 15 02");
}

namespace {

uint8_t codeOf(const std::string& key, const char* where) {
  ByteString b;
  try {
    std::string k = key;
    if (k.size() > 2 && k[0] == '0' && (k[1] == 'x' || k[1] == 'X')) k = k.substr(2);
    b = ParseHexBytes(k.size() == 1 ? "0" + k : k);
  } catch (const std::invalid_argument&) {
  }
  if (b.size() != 1)
    throw std::runtime_error(std::string("\"") + where + "\": '" + key +
                             "' is not a one-byte hex code");
  return static_cast<uint8_t>(b[0]);
}

uint8_t byteOf(const nlohmann::json& v, const char* where) {
  if (v.is_string()) return codeOf(v.get<std::string>(), where);
  if (v.is_number_integer() && v.get<int>() >= 0 && v.get<int>() <= 255)
    return static_cast<uint8_t>(v.get<int>());
  throw std::runtime_error(std::string("\"") + where + "\": expected a hex byte");
}

ByteString bytesOf(const nlohmann::json& v, const char* where) {
  if (!v.is_string()) throw std::runtime_error(std::string("\"") + where + "\": expected hex text");
  try {
    return ParseHexBytes(v.get<std::string>());
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(std::string("\"") + where + "\": " + e.what());
  }
}

const nlohmann::json& objectOf(const nlohmann::json& j, const char* key) {
  const auto& v = j.at(key);
  if (!v.is_object()) throw std::runtime_error(std::string("\"") + key + "\": expected an object");
  return v;
}

}  // namespace

SimConfig SimConfig::FromJson(const std::string& text, EcuType defaultType) {
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    throw std::runtime_error(std::string("not valid JSON: ") + e.what());
  }
  if (!j.is_object()) throw std::runtime_error("expected a JSON object");
  SimConfig c;
  c.type = defaultType;
  c.burst = DefaultBurst();
  try {
    if (j.contains("type")) {
      c.type = ParseEcuType(j["type"].get<std::string>());
      c.typeGiven = true;
    }
    if (j.contains("ignition_ms")) c.ignitionMs = j["ignition_ms"].get<int>();
    if (j.contains("burst")) c.burst = bytesOf(j["burst"], "burst");
    if (j.contains("latency_ms")) c.latencyMs = j["latency_ms"].get<double>();
    if (j.contains("echo")) c.echo = j["echo"].get<bool>();
    if (j.contains("silent_after_ms")) c.silentAfterMs = j["silent_after_ms"].get<int>();
    if (j.contains("answers"))
      for (auto& [k, v] : objectOf(j, "answers").items())
        c.answers[codeOf(k, "answers")] = byteOf(v, "answers");
    if (j.contains("silent")) {
      if (!j["silent"].is_array()) throw std::runtime_error("\"silent\": expected a list");
      for (const auto& v : j["silent"]) c.silent.insert(byteOf(v, "silent"));
    }
    if (j.contains("replies"))
      for (auto& [k, v] : objectOf(j, "replies").items())
        c.replies[codeOf(k, "replies")] = bytesOf(v, "replies");
    if (j.contains("wrong_echo"))
      for (auto& [k, v] : objectOf(j, "wrong_echo").items())
        c.wrongEcho[codeOf(k, "wrong_echo")] = byteOf(v, "wrong_echo");
    if (j.contains("stray"))
      for (auto& [k, v] : objectOf(j, "stray").items())
        c.stray[codeOf(k, "stray")] = bytesOf(v, "stray");
    if (j.contains("tests"))
      for (auto& [k, v] : objectOf(j, "tests").items()) {
        if (!v.is_object()) throw std::runtime_error("\"tests\": expected an object per code");
        Test t;
        if (v.contains("answer")) t.answer = byteOf(v["answer"], "tests");
        if (v.contains("verdict"))
          t.verdict = v["verdict"].is_null() ? ByteString() : bytesOf(v["verdict"], "tests");
        if (v.contains("after_ms")) t.afterMs = v["after_ms"].get<int>();
        c.tests[codeOf(k, "tests")] = t;
      }
    if (j.contains("late_ms"))
      for (auto& [k, v] : objectOf(j, "late_ms").items())
        c.lateMs[codeOf(k, "late_ms")] = v.get<double>();
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(std::string("bad value: ") + e.what());
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(e.what());
  }
  if (c.latencyMs < 0) c.latencyMs = 0;
  return c;
}

}  // namespace kline
