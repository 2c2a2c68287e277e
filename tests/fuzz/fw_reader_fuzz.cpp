// libFuzzer target for the firmware and configuration ROM readers. Each input is written as a
// ".bin", a ".rom" and a "Config_" file and handed to every reader; its first bytes also
// serve as a file name and a container text. Any crash, overrun or sanitizer report is a
// finding. Build: the fw_reader_fuzz target (clang only); run:
//   fw_reader_fuzz -max_len=70000 tests/data/images/
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/DeviceList.h"
#include "host/USBUtility.h"
#include "images/ConfigForm.h"
#include "images/ConfigTable.h"
#include "images/FlashImage.h"
#include "images/HubFirmware.h"
#include "images/HubImages.h"
#include "platform/Clock.h"
#include "settings/INISettings.h"

namespace {

class CQuietView : public IMessageView {
 public:
  int nMessageBox(const std::string&, const std::string&, uint32_t) override { return IDOK; }
};

struct FuzzWorld {
  std::string strDir;
  CScaledClock clock{0};
  CQuietView view;
  CUSBUtility* pUtility = nullptr;
  INISettings ini;
  DeviceList devList;
  CConfigFormFields form;
  CHubImages* pImages = nullptr;

  FuzzWorld() {
    char tmpl[] = "/tmp/mptool-fuzz-XXXXXX";
    strDir = mkdtemp(tmpl) ? tmpl : "/tmp";
    USBUtilityOptions o;
    o.strAppPath = strDir;
    o.strRunMarkerPath = strDir + "/run.lock";
    pUtility = new CUSBUtility(clock, o);
    pUtility->vSetMessageView(&view);
    pImages = new CHubImages(*pUtility, ini, devList, form);
  }
};

FuzzWorld& world() {
  static FuzzWorld* w = new FuzzWorld;  // lives for the whole fuzzing process
  return *w;
}

void vWrite(const std::string& p, const uint8_t* d, size_t n) {
  FILE* f = std::fopen(p.c_str(), "wb");
  if (!f) return;
  if (n) std::fwrite(d, 1, n, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzWorld& w = world();
  const std::string strBin = w.strDir + "/ABCDEF10.bin";
  const std::string strRom = w.strDir + "/ABCDEF20.rom";
  const std::string strCfg = w.strDir + "/Config_ABCDEF30.rom";
  vWrite(strBin, data, size);
  vWrite(strRom, data, size);
  vWrite(strCfg, data, size);

  (void)vIsValidHubFirmware(strBin);
  (void)vIsValidHubFirmware(strRom);
  (void)bIsFirmwareRomFile(strCfg);
  (void)bIsFirmwareRomData(data, size);
  w.pImages->m_strCmdLineSN =
      (size & 1) ? std::string(reinterpret_cast<const char*>(data), size < 24 ? size : 24) : "";
  (void)w.pImages->vReadConfigFromFile(strCfg);
  if (size <= 65536) (void)w.pImages->vCreateConfigRomFile(static_cast<uint8_t>(size & 2), strBin);

  const std::string strText(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  (void)stImageSignatureFromName(strText, true);
  (void)stImageSignatureFromName(strText, false);
  (void)strConfigRomFilePath(w.strDir, strText);
  (void)stContainerIdBytes(strText, [&](const std::string& s) { return w.pUtility->vCharToHex(s); });
  w.form.m_texts.m_strEditDeviceConfigurationContainerID = strText;
  w.form.m_texts.m_strEditDeviceConfigurationManufacturerString = strText;
  w.form.m_texts.m_strEditDeviceConfigurationSerialNumber = strText;
  w.ini.ucSN_EditType = size % 3;
  w.ini.ucConfig_format = 1;
  w.devList.DevNums = static_cast<int32_t>(size % 20) - 2;
  (void)w.pImages->vSetHubConfigInfo(static_cast<uint8_t>(size % 5));
  return 0;
}
