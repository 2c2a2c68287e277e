// Small readers for sysfs attribute files: they never throw and tell missing, unreadable and
// malformed files apart by the error number they return (ENOENT, EACCES/EIO, EINVAL).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sysfs {
// Whole file (at most 64 KiB); 0 or an errno.
int nReadFile(const std::string& strPath, std::string& strOut);
// First line without surrounding blanks; an empty file is EINVAL.
int nReadText(const std::string& strPath, std::string& strOut);
// Hexadecimal number ("2f7b", "09") up to ulMax.
int nReadHex(const std::string& strPath, uint32_t ulMax, uint32_t& ulOut);
// Decimal number up to ulMax.
int nReadDec(const std::string& strPath, uint32_t ulMax, uint32_t& ulOut);
// Writes text to an attribute in one write; 0 or an errno.
int nWriteText(const std::string& strPath, const std::string& strText);
// Parsers shared with the readers; false on anything but a plain number in range.
bool bParseHex(const std::string& s, uint32_t ulMax, uint32_t& ulOut);
bool bParseDec(const std::string& s, uint32_t ulMax, uint32_t& ulOut);
}  // namespace sysfs
