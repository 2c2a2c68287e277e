// The firmware choice of the main window without the window: the list of at most five
// recently chosen firmware files (newest first), the browse button after its file dialog,
// and a new selection in the list. A path containing "Config_" is loaded as a configuration
// ROM file and locks the configuration fields.
#pragma once

#include <string>
#include <vector>

#include "images/ConfigForm.h"
#include "images/HubImages.h"

// The filter of the browse button's open-file dialog (one file, read-only box hidden).
constexpr const char* FIRMWARE_FILE_FILTER =
    "Firmware .bin File (*.bin)|*.bin|Firmware .rom File (*.rom)|*.rom||";

class CFirmwareList {
 public:
  static constexpr size_t MAX_ENTRIES = 5;

  // The path becomes the first entry; a list that held five entries loses its oldest.
  void vInsertNewest(const std::string& strPath);
  // Replaces the entries (at most the first five are kept), for example at start-up.
  void vSetEntries(const std::vector<std::string>& vecPaths);
  const std::vector<std::string>& vecEntries() const { return m_vecEntries; }
  // Every entry followed by CR LF: the text of "BrowsedBINPath.txt".
  std::string strBrowseListText() const;

 private:
  std::vector<std::string> m_vecEntries;
};

// What a choice did.
enum class EFirmwareChoice {
  Unchanged,         // cancelled, empty path, or the path check failed
  Chosen,            // a plain firmware file; the fields follow "Update F/W"
  ConfigRomLoaded,   // a "Config_" path, loaded; the fields are locked
  ConfigRomRefused,  // a "Config_" path the loader refused; the fields are locked
  Failed,            // an unexpected error (logged)
};

class CFirmwareSelection {
 public:
  CFirmwareSelection(CHubImages& images, IConfigForm& form);

  CFirmwareList m_FirmwareList;
  std::string m_strComboBoxDeviceFirmwareFWBrowse;  // the list's selected text

  // The folder the file dialog opens in (the program folder).
  const std::string& strDialogFolder() const;

  // The browse button after the file dialog: strPickedPath is its path, empty when the
  // operator cancelled.
  EFirmwareChoice OnBnClickedButtonDevicwfirmwareFwbrowse(const std::string& strPickedPath);
  // A new selection in the firmware list, with its text.
  EFirmwareChoice OnCbnSelchangeComboDevicwfirmwareFwbrowse(const std::string& strSelectedText);

  EReadConfigResult eLastConfigRomResult() const { return m_eLastConfigRom; }

 private:
  EFirmwareChoice eApplyChoice(const std::string& strPath);

  CHubImages& m_images;
  IConfigForm& m_form;
  EReadConfigResult m_eLastConfigRom = EReadConfigResult::Loaded;
};
