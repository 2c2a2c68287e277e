// A fresh folder under the system's temporary folder, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return m_path; }
  std::string str() const { return m_path.string(); }
  // Writes a file below the folder (creating folders on the way) and returns its path.
  std::filesystem::path write(const std::string& relative, const std::string& content) const;
  std::string read(const std::string& relative) const;

 private:
  std::filesystem::path m_path;
};
