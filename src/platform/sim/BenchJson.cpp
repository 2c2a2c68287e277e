#include "platform/sim/BenchJson.h"

#include "platform/Text.h"

using json = nlohmann::json;

void vBenchJsonThrow(const std::string& s) {
  throw BenchJsonError{s};
}

uint64_t ullBenchHex(const json& j, const std::string& what, uint64_t ullMax) {
  uint64_t v = 0;
  if (j.is_number_unsigned() || (j.is_number_integer() && j.get<int64_t>() >= 0)) {
    v = j.get<uint64_t>();
  } else if (j.is_string()) {
    std::string s = j.get<std::string>();
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
    if (s.empty() || s.size() > 16)
      vBenchJsonThrow(what + " is not a hexadecimal number: \"" + j.get<std::string>() + "\"");
    for (char c : s) {
      const int d = nHexDigit(c);
      if (d < 0) vBenchJsonThrow(what + " is not a hexadecimal number: \"" + j.get<std::string>() + "\"");
      v = v * 16 + static_cast<uint64_t>(d);
    }
  } else {
    vBenchJsonThrow(what + " must be a number or a hexadecimal text");
  }
  if (v > ullMax) vBenchJsonThrow(what + " is out of range");
  return v;
}

uint64_t ullBenchNumber(const json& j, const std::string& what, uint64_t ullMin, uint64_t ullMax) {
  if (!j.is_number_integer()) vBenchJsonThrow(what + " must be a whole number");
  int64_t v = j.get<int64_t>();
  if (v < 0 || static_cast<uint64_t>(v) < ullMin || static_cast<uint64_t>(v) > ullMax)
    vBenchJsonThrow(what + " must be between " + std::to_string(ullMin) + " and " + std::to_string(ullMax));
  return static_cast<uint64_t>(v);
}
