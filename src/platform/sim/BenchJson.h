// Reading numbers of a bench file: every problem becomes a BenchJsonError naming the field,
// which the readers turn into their one-line error.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

struct BenchJsonError {
  std::string strText;
};

[[noreturn]] void vBenchJsonThrow(const std::string& s);

// A number given as a JSON number, "0x..." text or bare hexadecimal text ("2F7B").
uint64_t ullBenchHex(const nlohmann::json& j, const std::string& what, uint64_t ullMax);
// A whole JSON number between ullMin and ullMax.
uint64_t ullBenchNumber(const nlohmann::json& j, const std::string& what, uint64_t ullMin, uint64_t ullMax);
