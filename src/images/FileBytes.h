// Reading and writing the small binary files of this folder (firmware files, images,
// configuration ROM files). Only regular files are read, never more than the caller's limit,
// so a directory, a device node or a huge file is a clear refusal instead of a hang or an
// allocation of gigabytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class EFileRead {
  Ok,          // all bytes asked for were read
  OpenFailed,  // missing, not permitted, ...: nErrno tells
  NotRegular,  // a directory, FIFO, device node
  ReadShort,   // fewer bytes arrived than the file's size promised
};

struct FileBytes {
  EFileRead eStatus = EFileRead::OpenFailed;
  int nErrno = 0;
  uint64_t ullSize = 0;       // the file's size (valid once opened)
  std::vector<uint8_t> data;  // the bytes read: min(size, nMaxRead), fewer with ReadShort
};

// Opens the file, learns its size and reads its first nMaxRead bytes (all of them when the
// file is smaller). nMaxRead 0 only learns the size.
FileBytes stReadFileBytes(const std::string& strPath, uint64_t ullMaxRead);

// Writes the whole buffer to a new file at the path (truncating an old one) and closes it.
// False with errno set on any failure.
bool bWriteFileBytes(const std::string& strPath, const uint8_t* pData, size_t nLength);
