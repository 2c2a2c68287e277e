#include "platform/sim/SimBenchReport.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/Text.h"

using nlohmann::json;

namespace {
// The container id as the 32-digit text it was made from.
std::string strContainer(const std::array<uint8_t, 16>& c) {
  const uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  uint8_t ucText[16];
  for (size_t i = 0; i < 16; ++i) ucText[i] = c[order[i]];
  return strHexBytes(ucText, sizeof ucText);
}
}  // namespace

bool bWriteNewSimBench(const std::string& strDir, int nHubs, bool bUsb2, json& result,
                       std::string& strError) {
  namespace fs = std::filesystem;
  if (nHubs < 1 || nHubs > 15) {
    strError = "--hubs must be between 1 and 15";
    return false;
  }
  std::error_code ec;
  fs::create_directories(strDir, ec);
  fs::path bench = fs::path(strDir) / "bench.json";
  if (fs::exists(bench)) {
    strError = bench.string() + " exists already; choose an empty folder";
    return false;
  }
  json j = {{"time_scale", 0.01}, {"transfer_latency_us", 125}};
  j["controllers"] = json::array({{{"name", "xhci0"}, {"ports", std::max(4, nHubs)}}});
  j["hubs"] = json::array();
  std::vector<uint8_t> blank(SIM_FLASH_SIZE, 0xFF);
  result = {{"bench", bench.string()}, {"hubs", json::array()}};
  for (int i = 1; i <= nHubs; ++i) {
    std::string name = "hub" + std::to_string(i), flash = name + ".flash";
    j["hubs"].push_back(
        {{"name", name},
         {"controller", "xhci0"},
         {"port", i},
         {"usb3", !bUsb2},
         {"ports", 4},
         {"vid", "2F7B"},
         {"pid", "55AA"},
         {"pid_u2", "55AB"},
         {"bcdDevice", "0100"},
         {"manufacturer", ""},
         {"product", ""},
         {"serial", ""},
         {"chip_id", "0x6420"},
         {"registers",
          {{"0x5820", "0x11"}, {"0x5821", "0x02"}, {"0x6802", "0x40"}, {"0x3038", bUsb2 ? "0x00" : "0x34"}}},
         {"version", "000000000000"},
         {"flash", flash}});
    std::ofstream f(fs::path(strDir) / flash, std::ios::binary | std::ios::trunc);
    if (!f.write(reinterpret_cast<const char*>(blank.data()), static_cast<std::streamsize>(blank.size()))) {
      strError = (fs::path(strDir) / flash).string() + ": cannot be written";
      return false;
    }
    result["hubs"].push_back(name);
  }
  std::ofstream out(bench, std::ios::trunc);
  if (!(out << j.dump(2) << "\n")) {
    strError = bench.string() + ": cannot be written";
    return false;
  }
  return true;
}

json jsonSimBenchShow(CSimBench& bench, int nHub) {
  json j = {{"bench", bench.def().strPath},
            {"time_scale", bench.def().dTimeScale},
            {"transfer_latency_us", bench.def().uTransferLatencyUs},
            {"controllers", bench.nControllers()}};
  j["hubs"] = json::array();
  for (int h = 0; h < bench.nHubs(); ++h) {
    if (nHub >= 0 && h != nHub) continue;
    const SimHubSpec& s = bench.hubSpec(h);
    SimHubIdentity id = bench.stIdentity(h);
    auto image = bench.vecFlash(h, 0, SIM_IMAGE_SIZE);
    SimConfigBlockInfo cfg = stDecodeSimConfigBlock(image.data());
    SimFirmwareAreaInfo fw = stDecodeSimFirmwareArea(image.data());
    json names = json::array({bench.strDeviceName(h, false)});
    if (bench.bHasSuperSpeedHalf(h)) names.push_back(bench.strDeviceName(h, true));
    json hub = {{"name", s.strName},
                {"upstream", s.strParent.empty() ? s.strController : s.strParent},
                {"port", s.nPort},
                {"depth", bench.nHubDepth(h)},
                {"usb3", bench.bHasSuperSpeedHalf(h)},
                {"device_names", names},
                {"present", id.bPresent},
                {"identity",
                 {{"vid", strHex4(id.usVID)},
                  {"pid", strHex4(id.usPID)},
                  {"pid_u2", strHex4(id.usPIDU2)},
                  {"bcdDevice", strHex4(id.usBcdDevice)},
                  {"manufacturer", id.strManufacturer},
                  {"product", id.strProduct},
                  {"serial", id.strSerial},
                  {"chip_id", "0x" + strHex4(id.usChipId)},
                  {"from_config_block", id.bFromConfigBlock}}},
                {"version", strHexBytes(id.ucVersion.data(), 6)},
                {"config_valid", cfg.bValid()},
                {"image_boots", bSimImageBoots(cfg, fw)},
                {"firmware_length", fw.bLengthValid ? json(fw.usLength) : json(nullptr)}};
    if (nHub >= 0) {
      hub["config"] = {{"serial", cfg.strSerial},
                       {"manufacturer", cfg.strManufacturer},
                       {"product", cfg.strProduct},
                       {"vid", strHex4(cfg.usVID)},
                       {"pid", strHex4(cfg.usPID)},
                       {"pid_u2", strHex4(cfg.usPIDU2)},
                       {"revision", strHex4(cfg.usRevision)},
                       {"container_id", strContainer(cfg.ucContainerId)},
                       {"flags", strHexByte(cfg.ucFlags)},
                       {"signature", strHexByte(cfg.ucSignature)},
                       {"signature_valid", cfg.bSignatureValid},
                       {"checksum", strHexByte(cfg.ucChecksum)},
                       {"checksum_computed", strHexByte(cfg.ucChecksumComputed)},
                       {"checksum_valid", cfg.bChecksumValid}};
      json f = {{"length", fw.usLength}, {"length_valid", fw.bLengthValid}};
      if (fw.bLengthValid) {
        f["version"] = strHexBytes(fw.ucVersion.data(), 6);
        f["signature"] = strHexByte(fw.ucSignature);
        f["sum"] = strHexByte(fw.ucSum);
        f["sum_computed"] = strHexByte(fw.ucSumComputed);
        f["sum_valid"] = fw.bSumValid;
        f["type"] = fw.nType;
        f["firmware_type"] = fw.nFirmwareType;
        f["crc_valid"] = fw.bCrcValid;
      }
      hub["firmware"] = f;
    }
    j["hubs"].push_back(hub);
  }
  return j;
}

std::string strSimBenchShowText(const json& j) {
  std::string s = "bench " + j["bench"].get<std::string>() + ": time_scale " + j["time_scale"].dump() +
                  ", transfer latency " + j["transfer_latency_us"].dump() + " us\n";
  for (const auto& h : j["hubs"]) {
    const auto& id = h["identity"];
    std::string names;
    for (const auto& n : h["device_names"]) names += (names.empty() ? "" : " ") + n.get<std::string>();
    s += h["name"].get<std::string>() + ": " + h["upstream"].get<std::string>() + " port " +
         h["port"].dump() + ", " + (h["usb3"].get<bool>() ? "USB 3" : "USB 2") + ", " + names +
         (h["present"].get<bool>() ? "" : ", OFF THE BUS") + "\n";
    s += "  reports  VID " + id["vid"].get<std::string>() + " PID " + id["pid"].get<std::string>() +
         " PID_U2 " + id["pid_u2"].get<std::string>() + " bcdDevice " + id["bcdDevice"].get<std::string>() +
         " serial \"" + id["serial"].get<std::string>() + "\" manufacturer \"" +
         id["manufacturer"].get<std::string>() + "\" product \"" + id["product"].get<std::string>() + "\" (" +
         (id["from_config_block"].get<bool>() ? "configuration block" : "bench file") + ")\n";
    s += "  version  " + h["version"].get<std::string>() + "\n";
    s += std::string("  config   ") + (h["config_valid"].get<bool>() ? "valid" : "not valid") + "\n";
    s += "  firmware " +
         (h["firmware_length"].is_null() ? std::string("none") : "length " + h["firmware_length"].dump()) +
         "\n";
    if (h.contains("config")) {
      const auto& c = h["config"];
      s += "  configuration block:\n";
      for (const char* k : {"serial", "manufacturer", "product"})
        s += std::string("    ") + k + " \"" + c[k].get<std::string>() + "\"\n";
      for (const char* k : {"vid", "pid", "pid_u2", "revision", "container_id", "flags"})
        s += std::string("    ") + k + " " + c[k].get<std::string>() + "\n";
      s += "    signature " + c["signature"].get<std::string>() +
           (c["signature_valid"].get<bool>() ? " valid" : " not valid") + "\n";
      s += "    checksum " + c["checksum"].get<std::string>() + " (computed " +
           c["checksum_computed"].get<std::string>() + ") " +
           (c["checksum_valid"].get<bool>() ? "valid" : "not valid") + "\n";
      const auto& f = h["firmware"];
      s += "  firmware area:\n    length " + f["length"].dump() +
           (f["length_valid"].get<bool>() ? " valid" : " not valid") + "\n";
      if (f.contains("version")) {
        s += "    version " + f["version"].get<std::string>() + "\n    signature " +
             f["signature"].get<std::string>() + "\n";
        s += "    sum " + f["sum"].get<std::string>() + " (computed " + f["sum_computed"].get<std::string>() +
             ") " + (f["sum_valid"].get<bool>() ? "valid" : "not valid") + "\n";
      }
    }
  }
  return s;
}

json jsonSimFlashDump(CSimBench& bench, int nHub, size_t ulOffset, size_t ulLen) {
  auto v = bench.vecFlash(nHub, ulOffset, ulLen);
  return {{"hub", bench.hubSpec(nHub).strName},
          {"offset", ulOffset},
          {"length", v.size()},
          {"hex", strHexBytes(v.data(), v.size())}};
}

std::string strSimFlashDumpText(const json& j) {
  std::string hex = j["hex"].get<std::string>(), s;
  size_t off = j["offset"].get<size_t>();
  char b[16];
  for (size_t i = 0; i < hex.size() / 2; i += 16) {
    std::snprintf(b, sizeof b, "%05zX ", off + i);
    s += b;
    for (size_t k = i; k < std::min(i + 16, hex.size() / 2); ++k) s += " " + hex.substr(2 * k, 2);
    s += "\n";
  }
  return s;
}
