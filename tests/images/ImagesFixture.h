// A fresh program folder, settings record, device list and window form for the image tests.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "host/USBUtility.h"
#include "images/ConfigForm.h"
#include "images/HubImages.h"
#include "platform/Clock.h"
#include "support/TempDir.h"

class CRecordingView : public IMessageView {
 public:
  int nMessageBox(const std::string& strText, const std::string& strCaption, uint32_t uFlags) override {
    std::lock_guard<std::mutex> l(m_mutex);
    m_vecTexts.push_back(strText);
    m_vecCaptions.push_back(strCaption);
    m_vecFlags.push_back(uFlags);
    return IDOK;
  }
  std::vector<std::string> m_vecTexts, m_vecCaptions;
  std::vector<uint32_t> m_vecFlags;
  std::mutex m_mutex;
};

inline std::string strBytes(const std::vector<uint8_t>& v) {
  return std::string(v.begin(), v.end());
}

inline std::vector<uint8_t> vecReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// n bytes of a repeatable pattern.
inline std::vector<uint8_t> vecPattern(size_t n, uint8_t ucSeed = 7) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 31 + ucSeed + (i >> 8));
  return v;
}

// Makes a folder the current one for a test ("ProgramMSG.txt" is written there).
class CurrentDir {
 public:
  explicit CurrentDir(const std::filesystem::path& p) : m_old(std::filesystem::current_path()) {
    std::filesystem::current_path(p);
  }
  ~CurrentDir() {
    std::error_code ec;
    std::filesystem::current_path(m_old, ec);
  }

 private:
  std::filesystem::path m_old;
};

struct ImagesFixture {
  TempDir dir;
  CScaledClock clock{0};
  CUSBUtility utility;
  CRecordingView view;
  INISettings ini;
  DeviceList devList;
  CConfigFormFields form;
  CHubImages images;

  static USBUtilityOptions stOptions(const TempDir& d) {
    USBUtilityOptions o;
    o.strAppPath = (d.path() / "app").string();
    o.strRunMarkerPath = (d.path() / "run.lock").string();
    return o;
  }

  ImagesFixture() : utility(clock, stOptions(dir)), images(utility, ini, devList, form) {
    std::filesystem::create_directories(utility.m_szAppPath);
    utility.vSetMessageView(&view);
    vSetDefaultDescriptor();
  }

  // The values the window shows by default, plus a full container id.
  void vSetDefaultDescriptor() {
    ConfigFormTexts& t = form.m_texts;
    t.m_strEditDeviceConfigurationVendorID = "2F7B";
    t.m_strEditDeviceConfigurationProductID = "55AA";
    t.m_strEditDeviceConfigurationProductIDU2 = "55AB";
    t.m_strEditDeviceConfigurationContainerID = "0123456789ABCDEF0123456789ABCDEF";
    t.m_strEditDeviceConfigurationDeviceRevision = "0100";
    t.m_strEditDeviceConfigurationSerialNumber = "00000000000E";
    t.m_strEditDeviceConfigurationManufacturerString = "VLNT";
    t.m_strEditDeviceConfigurationProductString = "VLNT725x";
    ini.ucConfig_format = 1;
  }

  std::string strApp() const { return utility.m_szAppPath; }
  std::filesystem::path pathImage() const {
    return std::filesystem::path(strApp()) / "VLNFW_Temp" / "TempBinData.bin";
  }

  std::string strWrite(const std::string& strRel, const std::vector<uint8_t>& v) const {
    return dir.write(strRel, strBytes(v)).string();
  }
};
