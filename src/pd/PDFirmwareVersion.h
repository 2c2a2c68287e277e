// The version text of a PD firmware file as the PD dialog shows it next to the chosen file,
// and the file type codes that a file's name gives.
#pragma once

#include <cstdint>
#include <string>

#include "pd/PDFirmware.h"

// The text of a rejected file.
constexpr const char* PD_VERSION_REJECTED = "NULL";
// The text of an accepted file without a version: 0x14 then "NULL", which the dialog takes
// for a version because it is not "NULL".
constexpr const char* PD_VERSION_NONE = "\x14NULL";

// 2 for a path holding ".cyacd" after its first character, else 1 for ".bin" there, else 0.
uint8_t ucPDFileTypeOfPath(const std::string& strPath);
// 20 for a path holding ".hex" after its first character, else 0.
uint8_t ucMCUFileTypeOfPath(const std::string& strPath);

// Classifies the file for the chosen updates (sets fw's file type codes as the names give
// them; a name that gives none leaves the PD code as it was) and returns its version text:
// 4 hexadecimal digits of a Richtek image, 16 characters of a known .cyacd header,
// PD_VERSION_NONE for other accepted files, PD_VERSION_REJECTED for a missing or unreadable
// file, a Richtek image of the wrong size (with a box) or one too short for its version.
std::string strGetPDFWVersionFromFile(CPDFirmware& fw, const std::string& strPath);
