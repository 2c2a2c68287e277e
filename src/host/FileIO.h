// Writing whole buffers to file descriptors: the one loop every file writer of the tool
// uses, so a short write or an interrupted call never leaves a file cut without notice.
#pragma once

#include <cstddef>

// Writes all n bytes, retrying short writes and EINTR. False with errno set on a failure.
bool bWriteAll(int fd, const void* pData, size_t nLength);
