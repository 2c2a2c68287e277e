// File and folder checks, the folder delete and the version line of our own files.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "host/USBUtility.h"
#include "log/DebugLog.h"

bool CUSBUtility::vCheckFilePathExists(const std::string& strFilePath, bool bShowMessage) {
  bool bResult = false;
  try {
    if (access(strFilePath.c_str(), F_OK) != 0) {
      vDEBUG_MSG_printf("CUSBUtility::vCheckFilePathExists",
                        "vCheckFilePathExists: Not Exist , strFilePath : %s , err : %d , dwErrorCode %d",
                        strFilePath.c_str(), errno, errno);
    } else if (access(strFilePath.c_str(), R_OK | W_OK) != 0) {
      vDEBUG_MSG_printf("CUSBUtility::vCheckFilePathExists",
                        "vCheckFilePathExists: Not Read/Write , strFilePath : %s , err : %d , "
                        "dwErrorCode %d",
                        strFilePath.c_str(), errno, errno);
    } else {
      bResult = true;
    }
  } catch (...) {
    vDEBUG_MSG_printf("CUSBUtility::vCheckFilePathExists",
                      "vCheckFilePathExists: strFilePath : %s , err : %d , dwErrorCode %d",
                      strFilePath.c_str(), errno, errno);
    bResult = false;
  }
  if (!bResult && bShowMessage)
    view().nMessageBox(strFilePath + " File/Path Not Read/Write", "MPTool", MB_OK);
  return bResult;
}

std::string strFindVersionLine(const std::string& strContent) {
  static const std::string kKey = "FileVersion:";
  for (size_t p = strContent.find(kKey); p != std::string::npos; p = strContent.find(kKey, p + 1)) {
    size_t i = p + kKey.size();
    while (i < strContent.size() && (strContent[i] == ' ' || strContent[i] == '\t')) ++i;
    std::string strOut;
    bool bOk = true;
    for (int nPart = 0; bOk && nPart < 4; ++nPart) {
      if (nPart > 0) {
        if (i >= strContent.size() || strContent[i] != '.')
          bOk = false;
        else
          ++i;
      }
      size_t nDigits = 0;
      unsigned long v = 0;
      while (bOk && i < strContent.size() && std::isdigit(static_cast<unsigned char>(strContent[i])) &&
             nDigits < 6) {
        v = v * 10 + static_cast<unsigned long>(strContent[i] - '0');
        ++i;
        ++nDigits;
      }
      // each part is a 16-bit word
      if (nDigits == 0 || v > 0xFFFF) bOk = false;
      if (bOk) strOut += (nPart > 0 ? "." : "") + std::to_string(v);
    }
    if (bOk) return strOut;
  }
  return {};
}

int CUSBUtility::vGetFileVersionInfo(const std::string& strFileName, std::string& strVersion) {
  if (!vCheckFilePathExists(strFileName, false)) {
    vDEBUG_ERR_printf("CUSBUtility::vGetFileVersionInfo", " file not exist ,  file1[%s] , dwErrorCode %d",
                      strFileName.c_str(), errno);
    return -5;
  }
  // Our own files carry their version as a text line; a file without one gets a text that
  // is no version, so a comparison with an expected version fails without an error.
  std::string strFound;
  try {
    std::ifstream in(strFileName, std::ios::binary);
    constexpr size_t kMaxRead = 4u << 20;
    std::string strContent;
    strContent.resize(kMaxRead);
    in.read(strContent.data(), static_cast<std::streamsize>(kMaxRead));
    strContent.resize(in ? kMaxRead : static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    strFound = strFindVersionLine(strContent);
  } catch (...) {
    strFound.clear();
  }
  strVersion = strFound.empty() ? "unknown" : strFound;
  return 0;
}

// Deletes the files of a folder, with bRecursive its subfolders too, then the folder.
// Names beginning with "." are never touched, so a folder holding one stays (and its
// removal error is returned). A missing folder gives 0. A non-recursive walk that meets a
// subfolder deletes the files and leaves the folder. Symbolic links are deleted as links,
// never followed, so the walk never leaves the folder it was given.
int CUSBUtility::nDeleteFolder(const std::string& strFolder, bool bRecursive) {
  DIR* pDir = opendir(strFolder.c_str());
  if (!pDir) return 0;
  bool bSubfolderSeen = false;
  int nResult = 0;
  for (;;) {
    errno = 0;
    struct dirent* pEntry = readdir(pDir);
    if (!pEntry) {
      if (errno != 0) nResult = errno;
      break;
    }
    if (pEntry->d_name[0] == '.') continue;
    std::string strPath = strFolder + "/" + pEntry->d_name;
    struct stat st {};
    if (lstat(strPath.c_str(), &st) != 0) {
      nResult = errno;
      break;
    }
    if (S_ISDIR(st.st_mode)) {
      if (bRecursive) {
        nResult = nDeleteFolder(strPath, bRecursive);
        if (nResult != 0) break;
      } else {
        bSubfolderSeen = true;
      }
    } else if (unlink(strPath.c_str()) != 0) {
      // (a read-only file needs no attribute reset here: deleting depends on the folder)
      nResult = errno;
      break;
    }
  }
  closedir(pDir);
  if (nResult != 0) return nResult;
  if (bSubfolderSeen) return 0;
  if (rmdir(strFolder.c_str()) != 0) return errno;
  return 0;
}
