#include "platform/sim/SimBenchFile.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "platform/sim/BenchJson.h"
#include "platform/sim/SimClock.h"

using nlohmann::json;

const char* pszSimFaultKindName(ESimFaultKind e) {
  switch (e) {
    case ESimFaultKind::kFail:
      return "fail";
    case ESimFaultKind::kStall:
      return "stall";
    case ESimFaultKind::kTimeout:
      return "timeout";
    case ESimFaultKind::kGone:
      return "gone";
    case ESimFaultKind::kFlip:
      return "flip";
    case ESimFaultKind::kEraseStuck:
      return "erase_stuck";
    case ESimFaultKind::kNoReturn:
      return "no_return";
    case ESimFaultKind::kErasePartial:
      return "erase_partial";
  }
  return "?";
}

namespace {
using BenchError = BenchJsonError;
constexpr auto vThrow = vBenchJsonThrow;
constexpr auto ullHex = ullBenchHex;
constexpr auto ullNumber = ullBenchNumber;

std::string strText(const json& o, const char* key, const std::string& what) {
  if (!o.contains(key)) return "";
  if (!o[key].is_string()) vThrow(what + "." + key + " must be a text");
  return o[key].get<std::string>();
}

SimFaultSpec stFault(const json& f, const std::string& what) {
  if (!f.is_object()) vThrow(what + " must be an object");
  SimFaultSpec r;
  std::string kind = strText(f, "kind", what);
  static const std::pair<const char*, ESimFaultKind> kinds[] = {
      {"fail", ESimFaultKind::kFail},          {"stall", ESimFaultKind::kStall},
      {"timeout", ESimFaultKind::kTimeout},    {"gone", ESimFaultKind::kGone},
      {"flip", ESimFaultKind::kFlip},          {"erase_stuck", ESimFaultKind::kEraseStuck},
      {"no_return", ESimFaultKind::kNoReturn}, {"erase_partial", ESimFaultKind::kErasePartial}};
  bool bKnown = false;
  for (auto& k : kinds)
    if (kind == k.first) r.eKind = k.second, bKnown = true;
  if (!bKnown)
    vThrow(what + ".kind \"" + kind +
           "\" is unknown (fail, stall, timeout, gone, flip, erase_stuck, no_return, erase_partial)");
  if (f.contains("at_request"))
    r.ullAtRequest = ullNumber(f["at_request"], what + ".at_request", 1, UINT64_MAX >> 1);
  if (f.contains("request")) r.nRequestCode = static_cast<int>(ullHex(f["request"], what + ".request", 0xFF));
  if (f.contains("probability")) {
    const json& p = f["probability"];
    if (!p.is_number() || !(p.get<double>() > 0 && p.get<double>() <= 1))
      vThrow(what + ".probability must be a number above 0 and at most 1");
    if (f.contains("at_request") || f.contains("occurrence"))
      vThrow(what +
             " gives \"probability\" and \"at_request\" or \"occurrence\": a fault strikes by one rule");
    if (!f.contains("seed"))
      vThrow(what + " needs a \"seed\" for its \"probability\", so that the bench replays");
    r.dProbability = p.get<double>();
  }
  if (r.ullAtRequest == 0 && r.nRequestCode < 0 && r.dProbability == 0)
    vThrow(what + " needs \"at_request\", \"request\" or \"probability\" to say when it strikes");
  if (f.contains("occurrence"))
    r.uOccurrence = static_cast<uint32_t>(ullNumber(f["occurrence"], what + ".occurrence", 1, UINT32_MAX));
  if (f.contains("count"))
    r.uCount = static_cast<uint32_t>(ullNumber(f["count"], what + ".count", 0, UINT32_MAX));
  if (f.contains("seed"))
    r.uSeed = static_cast<uint32_t>(ullNumber(f["seed"], what + ".seed", 0, UINT32_MAX));
  if (f.contains("bits")) r.uBits = static_cast<uint32_t>(ullNumber(f["bits"], what + ".bits", 1, 256));
  if (r.eKind == ESimFaultKind::kErasePartial) {
    if (!f.contains("offset") || !f.contains("length"))
      vThrow(what + " needs \"offset\" and \"length\" of the range left unerased");
    r.uOffset = static_cast<uint32_t>(ullHex(f["offset"], what + ".offset", 0xFFFF));
    r.uLength = static_cast<uint32_t>(ullNumber(f["length"], what + ".length", 1, 0x10000 - r.uOffset));
  }
  return r;
}

std::array<uint8_t, 6> ucVersionField(const json& o, const std::string& what) {
  std::string v = strText(o, "version", what);
  if (v.size() != 12) vThrow(what + ".version must be 12 hexadecimal digits");
  std::array<uint8_t, 6> r{};
  for (int k = 0; k < 6; ++k)
    r[k] =
        static_cast<uint8_t>(ullHex(json(v.substr(static_cast<size_t>(k) * 2, 2)), what + ".version", 0xFF));
  return r;
}

// The boot identity: the hub's own fields unless "boot" gives others.
std::optional<SimBootIdentitySpec> optBootIdentity(const json& h, const SimHubSpec& hs,
                                                   const std::string& what) {
  if (!h.contains("boot")) return std::nullopt;
  SimBootIdentitySpec b = hs.stBootIdentity();
  const json& o = h["boot"];
  const std::string w = what + ".boot";
  if (!o.is_object()) vThrow(w + " must be an object");
  if (o.contains("vid")) b.usVID = static_cast<uint16_t>(ullHex(o["vid"], w + ".vid", 0xFFFF));
  if (o.contains("pid")) b.usPID = static_cast<uint16_t>(ullHex(o["pid"], w + ".pid", 0xFFFF));
  if (o.contains("pid_u2")) b.usPIDU2 = static_cast<uint16_t>(ullHex(o["pid_u2"], w + ".pid_u2", 0xFFFF));
  if (o.contains("bcdDevice"))
    b.usBcdDevice = static_cast<uint16_t>(ullHex(o["bcdDevice"], w + ".bcdDevice", 0xFFFF));
  if (o.contains("manufacturer")) b.strManufacturer = strText(o, "manufacturer", w);
  if (o.contains("product")) b.strProduct = strText(o, "product", w);
  if (o.contains("serial")) b.strSerial = strText(o, "serial", w);
  if (o.contains("version")) b.ucVersion = ucVersionField(o, w);
  return b;
}

void vParse(const std::string& strText_, const std::string& strBaseDir, SimBenchSpec& def) {
  json j;
  try {
    j = json::parse(strText_);
  } catch (const json::parse_error& e) {
    vThrow(std::string("not valid JSON: ") + e.what());
  }
  if (!j.is_object()) vThrow("the bench must be a JSON object");
  SimBenchSpec r;
  if (j.contains("time_scale")) {
    if (!j["time_scale"].is_number() || !bSimTimeScaleValid(j["time_scale"].get<double>()))
      vThrow("time_scale must be 0, or a number from 0.000001 to 1000 (the clock overflows outside)");
    r.dTimeScale = j["time_scale"].get<double>();
  }
  if (j.contains("transfer_latency_us"))
    r.uTransferLatencyUs =
        static_cast<uint32_t>(ullNumber(j["transfer_latency_us"], "transfer_latency_us", 0, 10000000));
  if (j.contains("filter_driver")) {
    if (!j["filter_driver"].is_string() || j["filter_driver"].get<std::string>().empty())
      vThrow("filter_driver must be a version text or \"none\"");
    r.strFilterDriver = j["filter_driver"].get<std::string>();
  }
  if (!j.contains("controllers") || !j["controllers"].is_array() || j["controllers"].empty())
    vThrow("\"controllers\" must be a non-empty array");
  std::set<std::string> names;
  for (size_t i = 0; i < j["controllers"].size(); ++i) {
    const json& c = j["controllers"][i];
    std::string what = "controllers[" + std::to_string(i) + "]";
    if (!c.is_object()) vThrow(what + " must be an object");
    SimControllerSpec cs;
    cs.strName = strText(c, "name", what);
    if (cs.strName.empty()) vThrow(what + " needs a name");
    if (!names.insert(cs.strName).second) vThrow("the name \"" + cs.strName + "\" is used twice");
    if (c.contains("ports")) cs.nPorts = static_cast<int>(ullNumber(c["ports"], what + ".ports", 1, 31));
    r.vecControllers.push_back(cs);
  }
  if (!j.contains("hubs") || !j["hubs"].is_array()) vThrow("\"hubs\" must be an array");
  std::set<std::string> flashes;
  for (size_t i = 0; i < j["hubs"].size(); ++i) {
    const json& h = j["hubs"][i];
    if (!h.is_object()) vThrow("hubs[" + std::to_string(i) + "] must be an object");
    SimHubSpec hs;
    std::string what = "hubs[" + std::to_string(i) + "]";
    hs.strName = strText(h, "name", what);
    if (hs.strName.empty()) vThrow(what + " needs a name");
    what = "hub \"" + hs.strName + "\"";
    if (!names.insert(hs.strName).second) vThrow("the name \"" + hs.strName + "\" is used twice");
    hs.strController = strText(h, "controller", what);
    hs.strParent = strText(h, "parent", what);
    if (hs.strController.empty() == hs.strParent.empty())
      vThrow(what + " needs exactly one of \"controller\" and \"parent\"");
    if (!h.contains("port")) vThrow(what + " needs a port");
    hs.nPort = static_cast<int>(ullNumber(h["port"], what + ".port", 1, 31));
    if (h.contains("usb3")) {
      if (!h["usb3"].is_boolean()) vThrow(what + ".usb3 must be true or false");
      hs.bUsb3 = h["usb3"].get<bool>();
    }
    if (h.contains("ports")) hs.nPorts = static_cast<int>(ullNumber(h["ports"], what + ".ports", 1, 15));
    if (h.contains("vid")) hs.usVID = static_cast<uint16_t>(ullHex(h["vid"], what + ".vid", 0xFFFF));
    if (h.contains("pid")) hs.usPID = static_cast<uint16_t>(ullHex(h["pid"], what + ".pid", 0xFFFF));
    hs.usPIDU2 = h.contains("pid_u2") ? static_cast<uint16_t>(ullHex(h["pid_u2"], what + ".pid_u2", 0xFFFF))
                                      : hs.usPID;
    if (h.contains("bcdDevice"))
      hs.usBcdDevice = static_cast<uint16_t>(ullHex(h["bcdDevice"], what + ".bcdDevice", 0xFFFF));
    hs.strManufacturer = strText(h, "manufacturer", what);
    hs.strProduct = strText(h, "product", what);
    hs.strSerial = strText(h, "serial", what);
    if (h.contains("chip_id"))
      hs.usChipId = static_cast<uint16_t>(ullHex(h["chip_id"], what + ".chip_id", 0xFFFF));
    if (h.contains("registers")) {
      if (!h["registers"].is_object()) vThrow(what + ".registers must be an object");
      for (auto it = h["registers"].begin(); it != h["registers"].end(); ++it) {
        uint16_t a = static_cast<uint16_t>(ullHex(json(it.key()), what + ".registers key", 0xFFFF));
        hs.mapRegisters[a] =
            static_cast<uint8_t>(ullHex(it.value(), what + ".registers[" + it.key() + "]", 0xFF));
      }
    }
    if (h.contains("version")) hs.ucVersion = ucVersionField(h, what);
    hs.optBoot = optBootIdentity(h, hs, what);
    std::string flash = strText(h, "flash", what);
    if (flash.empty()) vThrow(what + " needs a flash file");
    std::filesystem::path fp(flash);
    if (fp.is_relative()) fp = std::filesystem::path(strBaseDir) / fp;
    hs.strFlash = fp.lexically_normal().string();
    if (!flashes.insert(hs.strFlash).second) vThrow(what + " shares its flash file with another hub");
    if (h.contains("suspended")) {
      if (!h["suspended"].is_boolean()) vThrow(what + ".suspended must be true or false");
      hs.bSuspended = h["suspended"].get<bool>();
    }
    if (h.contains("permission")) {
      const std::string strPerm = h["permission"].is_string() ? h["permission"].get<std::string>() : "";
      if (strPerm != "granted" && strPerm != "denied")
        vThrow(what + ".permission must be \"granted\" or \"denied\"");
      hs.bPermissionDenied = strPerm == "denied";
    }
    if (h.contains("plug_at_ms"))
      hs.uPlugAtMs = static_cast<uint32_t>(ullNumber(h["plug_at_ms"], what + ".plug_at_ms", 0, 86400000));
    if (h.contains("reset_ms"))
      hs.uResetMs = static_cast<uint32_t>(ullNumber(h["reset_ms"], what + ".reset_ms", 0, 600000));
    if (h.contains("attach_ms"))
      hs.uAttachMs = static_cast<uint32_t>(ullNumber(h["attach_ms"], what + ".attach_ms", 0, 600000));
    if (h.contains("erase_ms"))
      hs.uEraseMs = static_cast<uint32_t>(ullNumber(h["erase_ms"], what + ".erase_ms", 0, 600000));
    if (h.contains("faults")) {
      if (!h["faults"].is_array()) vThrow(what + ".faults must be an array");
      for (size_t k = 0; k < h["faults"].size(); ++k)
        hs.vecFaults.push_back(stFault(h["faults"][k], what + ".faults[" + std::to_string(k) + "]"));
    }
    r.vecHubs.push_back(hs);
  }
  // Resolve the tree: parents exist, ports are in range and free, no cycles.
  std::set<std::pair<std::string, int>> used;
  for (auto& hs : r.vecHubs) {
    std::string what = "hub \"" + hs.strName + "\"";
    int nMaxPort = 0;
    if (!hs.strController.empty()) {
      for (size_t c = 0; c < r.vecControllers.size(); ++c)
        if (r.vecControllers[c].strName == hs.strController) hs.nControllerIndex = static_cast<int>(c);
      if (hs.nControllerIndex < 0) vThrow(what + " names an unknown controller \"" + hs.strController + "\"");
      nMaxPort = r.vecControllers[hs.nControllerIndex].nPorts;
    } else {
      for (size_t p = 0; p < r.vecHubs.size(); ++p)
        if (r.vecHubs[p].strName == hs.strParent) hs.nParentIndex = static_cast<int>(p);
      if (hs.nParentIndex < 0) vThrow(what + " names an unknown parent \"" + hs.strParent + "\"");
      nMaxPort = r.vecHubs[hs.nParentIndex].nPorts;
    }
    if (hs.nPort > nMaxPort)
      vThrow(what + " sits on port " + std::to_string(hs.nPort) + ", but its upstream has " +
             std::to_string(nMaxPort) + " ports");
    std::string up = hs.strController.empty() ? hs.strParent : hs.strController;
    if (!used.insert({up, hs.nPort}).second)
      vThrow(what + " sits on port " + std::to_string(hs.nPort) + " of \"" += up + "\", which is taken");
  }
  for (auto& hs : r.vecHubs) {
    int n = static_cast<int>(&hs - &r.vecHubs[0]);
    size_t steps = 0;
    int depth = 0;
    while (r.vecHubs[n].nParentIndex >= 0) {
      n = r.vecHubs[n].nParentIndex;
      if (++steps > r.vecHubs.size()) vThrow("hub \"" + hs.strName + "\" is part of a cycle of parents");
      ++depth;
    }
    if (depth > 6) vThrow("hub \"" + hs.strName + "\" sits deeper than USB allows");
    hs.nControllerIndex = r.vecHubs[n].nControllerIndex;
  }
  def = std::move(r);
}
}  // namespace

bool bParseSimBench(const std::string& strText_, const std::string& strBaseDir, SimBenchSpec& def,
                    std::string& strError) {
  try {
    vParse(strText_, strBaseDir, def);
    return true;
  } catch (const BenchError& e) {
    strError = e.strText;
  } catch (const std::exception& e) {
    strError = e.what();
  }
  return false;
}

bool bReadSimBenchFile(const std::string& strPath, SimBenchSpec& def, std::string& strError) {
  std::ifstream in(strPath, std::ios::binary);
  if (!in) {
    strError = "bench file " + strPath + ": cannot be read";
    return false;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  std::string base = std::filesystem::absolute(std::filesystem::path(strPath)).parent_path().string();
  if (!bParseSimBench(ss.str(), base, def, strError)) {
    strError = "bench file " + strPath + ": " + strError;
    return false;
  }
  def.strPath = strPath;
  return true;
}
