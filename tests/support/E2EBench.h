// The files an end-to-end test lays out for a run on the simulated bench: the bench file,
// a sample firmware and a settings file. One place, so every end-to-end test describes its
// hubs the same way.
#pragma once

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"

struct E2EHub {
  std::string strName;
  std::string strOn = "xhci0";  // a controller, or the parent hub
  int nPort = 1;
  bool bUsb3 = true;
  std::string strChipReg = "0x11";   // register 0x5820: chip variant in bits 6..4
  std::string strCableReg = "0x40";  // register 0x6802: orientation in bits 7..6
  std::string strLinkReg = "0x34";   // register 0x3038: link of the upstream port
  std::string strVersion;            // version area before any firmware, or empty
  nlohmann::json jsonStorage;        // "storage" object, or null
  nlohmann::json jsonFaults;         // "faults" array, or null
  int nPlugAtMs = 0;                 // > 0: plugged in at this tool time, absent before
  int nAttachMs = -1;                // >= 0: attach time after the hub above it is back
  std::string strProduct;            // product string before any configuration, or empty (blank)
  std::string strPermission;         // "denied": the user may not open the hub; empty: granted
  std::string strSerial;             // serial number before any configuration, or empty
};

inline E2EHub stE2EHub(const std::string& strName, const std::string& strOn, int nPort, bool bUsb3 = true) {
  E2EHub h;
  h.strName = strName;
  h.strOn = strOn;
  h.nPort = nPort;
  h.bUsb3 = bUsb3;
  return h;
}

// The bench's time scale: at 0.01 the tool's margins are a tenth of a second of real time.
// Under the thread checker a loaded machine can hold a polling thread up for longer than the
// 30 ms the 3 s erase poll then lasts, and the hub rightly fails; 0.05 gives it 150 ms.
#if defined(__SANITIZE_THREAD__)
inline constexpr double kE2ETimeScale = 0.05;
#else
inline constexpr double kE2ETimeScale = 0.01;
#endif

// The bench file at kE2ETimeScale.
inline std::string strE2EBenchJson(const std::vector<std::string>& controllers,
                                   const std::vector<E2EHub>& hubs) {
  nlohmann::json jsonControllers = nlohmann::json::array();
  for (const auto& c : controllers) jsonControllers.push_back({{"name", c}, {"ports", 4}});
  nlohmann::json jsonHubs = nlohmann::json::array();
  for (const E2EHub& h : hubs) {
    bool bController = false;
    for (const auto& c : controllers) bController |= c == h.strOn;
    nlohmann::json j = {
        {"name", h.strName},
        {bController ? "controller" : "parent", h.strOn},
        {"port", h.nPort},
        {"usb3", h.bUsb3},
        {"ports", 4},
        {"vid", "2F7B"},
        {"pid", "55AA"},
        {"pid_u2", "55AB"},
        {"registers",
         {{"0x5820", h.strChipReg}, {"0x5821", "0x02"}, {"0x6802", h.strCableReg}, {"0x3038", h.strLinkReg}}},
        {"flash", h.strName + ".flash"}};
    if (!h.strVersion.empty()) j["version"] = h.strVersion;
    if (!h.strSerial.empty()) j["serial"] = h.strSerial;
    if (!h.strProduct.empty()) j["product"] = h.strProduct;
    if (!h.jsonStorage.is_null()) j["storage"] = h.jsonStorage;
    if (!h.jsonFaults.is_null()) j["faults"] = h.jsonFaults;
    if (h.nPlugAtMs > 0) j["plug_at_ms"] = h.nPlugAtMs;
    if (h.nAttachMs >= 0) j["attach_ms"] = h.nAttachMs;
    if (!h.strPermission.empty()) j["permission"] = h.strPermission;
    jsonHubs.push_back(std::move(j));
  }
  return nlohmann::json{{"time_scale", kE2ETimeScale},
                        {"transfer_latency_us", 0},
                        {"controllers", jsonControllers},
                        {"hubs", jsonHubs}}
      .dump();
}

// A type-1 firmware (the bench hubs report type 1 in register 0x5820) of nLength bytes,
// with version 010203100506 when bVersion and the file is long enough for it.
inline std::string strE2EFirmware(size_t nLength = 0x5800, bool bVersion = true) {
  std::string fw(nLength, '\0');
  for (size_t i = 0; i < nLength; ++i) fw[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  const unsigned char ver[6] = {0x01, 0x02, 0x03, 0x10, 0x05, 0x06};
  for (size_t i = 0; bVersion && i < 6 && 0x200 + i < nLength; ++i) fw[0x200 + i] = static_cast<char>(ver[i]);
  return fw;
}

struct E2ESettings {
  int nAutoDevNum = 1;
  std::string strSNEditType = "1";
  std::string strFirmware;  // fw_binary_name
  std::string strMaker = "Bench Maker";
  std::string strProduct = "Bench Hub";
  std::string strSerial = "000000000001";
  int nSNFixLength = 0;
  int nConfigCheck = 1;  // check_config
};

// A settings file for an auto-mode run that updates, relinks and (by default) checks the
// descriptors.
inline std::string strE2ESettings(const E2ESettings& s) {
  std::ostringstream o;
  o << "[ini_version]\nversion=1005\n[usb_func]\nauto_mp=1\nauto_mp_DevNum=" << s.nAutoDevNum
    << "\nCheck_USBStatus_enable=0\ncheck_config=" << s.nConfigCheck << "\nSN_EditType=" << s.strSNEditType
    << "\n[usb_fw]\nfw_enable=1\nfw_binary_name=" << s.strFirmware
    << "\nfw_reload=1\n"
       "[usb_config]\nconfig_format=1\nvendor_id=2F7B\nproduct_id=5A01\nproduct_id_hub2=5A02\n"
       "container_string=0123456789ABCDEF0123456789ABCDEF\ndevice_revision=0200\nmanufacturer_string="
    << s.strMaker << "\nproduct_string=" << s.strProduct << "\nserial_number=" << s.strSerial
    << "\nSN_fix_length=" << s.nSNFixLength << "\ncrc32=0\n";
  return o.str();
}

// The files of a run the operator starts from the window: nHubs hubs, four on each of two
// controllers, the sample firmware, and settings with auto mode off (Start is pressed).
inline void vLayOutWindowRun(const TempDir& dir, int nHubs) {
  std::vector<E2EHub> hubs;
  hubs.reserve(static_cast<size_t>(nHubs));
  for (int i = 0; i < nHubs; ++i)
    hubs.push_back(stE2EHub("hub" + std::to_string(i), i < 4 ? "xhci0" : "xhci1", i % 4 + 1));
  dir.write("bench.json", strE2EBenchJson({"xhci0", "xhci1"}, hubs));
  dir.write("VLN642_10_bench.bin", strE2EFirmware());
  E2ESettings st;
  st.nAutoDevNum = nHubs;
  st.strFirmware = "VLN642_10_bench.bin";
  std::string strIni = strE2ESettings(st);
  strIni.replace(strIni.find("auto_mp=1"), 9, "auto_mp=0");
  dir.write("vlnhub.ini", strIni);
}
