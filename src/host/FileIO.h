// Writing whole buffers to file descriptors: the one loop every file writer of the tool
// uses, so a short write or an interrupted call never leaves a file cut without notice;
// and the one way a file that must never be lost half-written is replaced.
#pragma once

#include <cstddef>
#include <string>

// Writes all n bytes, retrying short writes and EINTR. False with errno set on a failure.
bool bWriteAll(int fd, const void* pData, size_t nLength);

// How a whole-file replacement went.
enum class EFileReplace {
  Renamed,  // written to a temporary file beside the target and renamed over it
  InPlace,  // no temporary file could be made there: the target was rewritten where it is
  Failed,
};

// Failures a test injects in place of the real calls (0: none), for cases a process with
// every right cannot meet, such as a folder it may not write.
struct FileReplaceFaults {
  int nMakeTempErrno = 0;  // making the temporary file fails with this errno
  int nInPlaceErrno = 0;   // opening the target to rewrite it in place fails with this errno
};

// Replaces a file's content so that a crash leaves the old or the new content. A symbolic
// link is followed to its target (the link stays a link); the target keeps its owner, group
// and mode. Temporary files an interrupted earlier replacement left behind are removed.
// When no temporary file can be made beside the target (a folder that may not be written),
// an existing target is rewritten in place and synced instead. nErr: errno of a failure.
EFileReplace eReplaceFile(const std::string& strPath, const std::string& strText, int& nErr,
                          const FileReplaceFaults& faults = {});
// The file a path names once every symbolic link on its last component is followed (the
// path itself when it is no link; a dangling link gives the missing target).
std::string strFollowLinks(const std::string& strPath);
