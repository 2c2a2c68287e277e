#include "pd/PDFirmwareCommands.h"

#include <cstdio>
#include <mutex>
#include <nlohmann/json.hpp>

#include "host/IMessageView.h"
#include "host/USBUtility.h"
#include "log/DebugLog.h"
#include "pd/PDFirmware.h"
#include "pd/PDFirmwareVersion.h"
#include "platform/Clock.h"

namespace {

using ordered_json = nlohmann::ordered_json;

// The utility the commands run with: nothing is written under a program folder.
struct CommandHost {
  CScaledClock clock{0};
  CUSBUtility utility{clock, options()};
  CCollectingMessageView view;
  CommandHost() { utility.vSetMessageView(&view); }
  static USBUtilityOptions options() {
    USBUtilityOptions opt;
    opt.strAppPath = "/nonexistent";
    return opt;
  }
};

// Warnings and errors of the diagnostic log while it lives, one text each without the
// entry's leading line break. The level and the sink are the process's: restored after.
class CLogLines {
 public:
  CLogLines() : m_nOldLevel(g_nDebugLevel.load()) {
    vDEBUG_SetLevel(2);
    vDEBUG_SetSink([this](std::string_view s) {
      while (!s.empty() && (s.front() == '\r' || s.front() == '\n')) s.remove_prefix(1);
      m_vecLines.emplace_back(s);
    });
  }
  ~CLogLines() {
    vDEBUG_SetSink({});
    vDEBUG_SetLevel(m_nOldLevel);
  }
  CLogLines(const CLogLines&) = delete;
  CLogLines& operator=(const CLogLines&) = delete;
  const std::vector<std::string>& lines() const { return m_vecLines; }

 private:
  int m_nOldLevel;
  std::vector<std::string> m_vecLines;  // the sink runs under the log's lock
};

// Control bytes as \xNN, so a text line shows the default version's 0x14.
std::string strPrintable(const std::string& s) {
  std::string out;
  for (unsigned char ch : s) {
    if (ch < 0x20 || ch == 0x7F) {
      char sz[8];
      std::snprintf(sz, sizeof sz, "\\x%02x", ch);
      out += sz;
    } else {
      out.push_back(static_cast<char>(ch));
    }
  }
  return out;
}

std::string strHex(uint32_t v, int nDigits) {
  char sz[16];
  std::snprintf(sz, sizeof sz, "%0*X", nDigits, v);
  return sz;
}

}  // namespace

CommandOutput stRunPdVersion(const std::vector<std::string>& vecArgs, bool bJson) {
  std::string strFile;
  bool bPD = false, bMCU = false;
  for (const std::string& a : vecArgs) {
    if (a == "--pd") {
      bPD = true;
    } else if (a == "--mcu") {
      bMCU = true;
    } else if (a.rfind("--", 0) == 0) {
      return stCommandUsageError("pd-version", "unknown option " + a, bJson);
    } else if (strFile.empty()) {
      strFile = a;
    } else {
      return stCommandUsageError("pd-version", "one FILE only", bJson);
    }
  }
  if (strFile.empty()) return stCommandUsageError("pd-version", "FILE [--pd] [--mcu]", bJson);
  if (!bPD && !bMCU) bPD = true;

  CommandHost host;
  CPDFirmware fw(host.utility);
  fw.m_bPDFWEnable = bPD ? 1 : 0;
  fw.m_bMCUFWEnable = bMCU ? 1 : 0;
  std::string strVersion;
  std::vector<std::string> vecLog;
  {
    CLogLines log;
    strVersion = strGetPDFWVersionFromFile(fw, strFile);
    vecLog = log.lines();
  }
  const bool bAccepted = strVersion != PD_VERSION_REJECTED;
  CommandOutput r;
  r.nExitCode = bAccepted ? 0 : 1;
  if (bJson) {
    ordered_json j;
    j["file"] = strFile;
    j["version"] = strVersion;
    j["accepted"] = bAccepted;
    j["pd_file_type"] = fw.m_ucPDFWFileType.load();
    j["mcu_file_type"] = fw.m_ucMCUFWFileType.load();
    j["messages"] = host.view.vecTexts();
    j["log"] = vecLog;
    r.strOut = strDumpCommandJson(j);
    return r;
  }
  r.strOut = "file: " + strFile + "\nversion: " + strPrintable(strVersion) +
             (bAccepted ? "" : " (rejected)") +
             "\npd_file_type: " + std::to_string(fw.m_ucPDFWFileType.load()) +
             "\nmcu_file_type: " + std::to_string(fw.m_ucMCUFWFileType.load()) + "\n";
  for (const std::string& m : host.view.vecTexts()) r.strErr += "message: " + m + "\n";
  for (const std::string& l : vecLog) r.strErr += l + "\n";
  return r;
}

CommandOutput stRunPdLoad(const std::vector<std::string>& vecArgs, bool bJson) {
  static constexpr const char* USAGE = "FILE --family richtek|ccg2|ccg3|ccg4 [--mcu [HEX]]";
  std::string strFile, strFamily, strMCUFile;
  bool bMCU = false;
  for (size_t i = 0; i < vecArgs.size(); ++i) {
    const std::string& a = vecArgs[i];
    if (a == "--family") {
      if (i + 1 >= vecArgs.size()) return stCommandUsageError("pd-load", "--family needs a value", bJson);
      strFamily = vecArgs[++i];
    } else if (a == "--mcu") {
      bMCU = true;
      if (i + 1 < vecArgs.size() && vecArgs[i + 1].rfind("--", 0) != 0 && !strFile.empty())
        strMCUFile = vecArgs[++i];
    } else if (a.rfind("--", 0) == 0) {
      return stCommandUsageError("pd-load", "unknown option " + a, bJson);
    } else if (strFile.empty()) {
      strFile = a;
    } else {
      return stCommandUsageError("pd-load", USAGE, bJson);
    }
  }
  uint8_t ucVendor = 0;
  if (strFamily == "richtek") ucVendor = PD_VENDOR_RICHTEK;
  if (strFamily == "ccg2") ucVendor = PD_VENDOR_CCG2;
  if (strFamily == "ccg3") ucVendor = PD_VENDOR_CCG3;
  if (strFamily == "ccg4") ucVendor = PD_VENDOR_CCG4;
  if (strFile.empty() || ucVendor == 0) return stCommandUsageError("pd-load", USAGE, bJson);

  CommandHost host;
  CPDFirmware fw(host.utility);
  fw.m_bPDFWEnable = 1;
  fw.m_bMCUFWEnable = bMCU ? 1 : 0;
  fw.m_nPDChipVendor = ucVendor;
  // The file types as the dialog's choice of the files sets them.
  fw.m_ucPDFWFileType = ucPDFileTypeOfPath(strFile);
  fw.m_strMCUFWFilePath = strMCUFile;
  if (bMCU) fw.m_ucMCUFWFileType = ucMCUFileTypeOfPath(strMCUFile.empty() ? strFile : strMCUFile);
  int nResult = 0;
  std::vector<std::string> vecLog;
  {
    CLogLines log;
    nResult = fw.nCreatePDSPIROMBuffer(strFile);
    vecLog = log.lines();
  }

  const CPDFirmwareImages& im = fw.m_images;
  const size_t nRowSize = ucVendor == PD_VENDOR_CCG4 ? CCG4_ROW_SIZE : CCG3_ROW_SIZE;
  size_t nSlots = 0, nRows = 0, nOutOfOrder = 0;
  if (fw.m_ucPDFWFileType == PD_FILE_TYPE_CYACD) {
    nSlots = im.nCyacdSlots(nRowSize);
    uint32_t dwLastRow = 0;
    CPDFirmwareImages::RowView v{};
    for (size_t k = 0; im.bCyacdSlot(nRowSize, k, v); ++k) {
      if (v.ucArrayID == CYACD_HEADER_ARRAY_ID) continue;
      ++nRows;
      // Rows that do not come after the row before them are never written.
      if (v.wRowNum <= dwLastRow) ++nOutOfOrder;
      dwLastRow = std::max<uint32_t>(dwLastRow, v.wRowNum);
    }
  }
  size_t nMCULength = 0;
  uint16_t wExt = 0;
  if (bMCU) im.vecMCUImage(nMCULength, wExt);

  CommandOutput r;
  r.nExitCode = nResult == 0 ? 0 : 1;
  const auto& h = im.m_CypressFWHeader;
  if (bJson) {
    ordered_json j;
    j["file"] = strFile;
    j["family"] = strFamily;
    j["result"] = nResult;
    j["pd_file_type"] = fw.m_ucPDFWFileType.load();
    j["mcu_file_type"] = fw.m_ucMCUFWFileType.load();
    if (fw.m_ucPDFWFileType == PD_FILE_TYPE_CYACD) {
      j["silicon_id"] = strHex(h.dwSliconID, 8);
      j["silicon_revision"] = h.ucSiliconRev;
      j["checksum_type"] = h.ucChecksumType;
      j["row_size"] = nRowSize;
      j["slots"] = nSlots;
      j["rows"] = nRows;
      j["rows_out_of_order"] = nOutOfOrder;
    }
    if (fw.m_ucPDFWFileType == PD_FILE_TYPE_RICHTEK)
      j["richtek_bytes"] = nResult == 0 ? RICHTEK_IMAGE_SIZE : 0;
    if (bMCU) {
      j["mcu_records"] = im.m_STMMCUFW.size();
      j["mcu_extended_address"] = strHex(wExt, 4);
      j["mcu_image_length"] = nMCULength;
    }
    j["log"] = vecLog;
    r.strOut = strDumpCommandJson(j);
    return r;
  }
  std::string s = "file: " + strFile + "\nfamily: " + strFamily + "\nresult: " + std::to_string(nResult) +
                  "\npd_file_type: " + std::to_string(fw.m_ucPDFWFileType.load()) +
                  "\nmcu_file_type: " + std::to_string(fw.m_ucMCUFWFileType.load()) + "\n";
  if (fw.m_ucPDFWFileType == PD_FILE_TYPE_CYACD) {
    s += "silicon_id: " + strHex(h.dwSliconID, 8) + "\nsilicon_revision: " + std::to_string(h.ucSiliconRev) +
         "\nchecksum_type: " + std::to_string(h.ucChecksumType) + "\nrow_size: " + std::to_string(nRowSize) +
         "\nslots: " + std::to_string(nSlots) + "\nrows: " + std::to_string(nRows) +
         "\nrows_out_of_order: " + std::to_string(nOutOfOrder) + "\n";
  }
  if (fw.m_ucPDFWFileType == PD_FILE_TYPE_RICHTEK)
    s += "richtek_bytes: " + std::to_string(nResult == 0 ? RICHTEK_IMAGE_SIZE : 0) + "\n";
  if (bMCU) {
    s += "mcu_records: " + std::to_string(im.m_STMMCUFW.size()) +
         "\nmcu_extended_address: " + strHex(wExt, 4) + "\nmcu_image_length: " + std::to_string(nMCULength) +
         "\n";
  }
  r.strOut = s;
  for (const std::string& l : vecLog) r.strErr += l + "\n";
  return r;
}
