#ifdef _WIN32
class ScratchFolder;
#endif

// A fresh folder for one test, removed with everything in it afterwards.
// Under Wine it lies on the prefix's C: drive (the test scratch area).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path File(const std::string& name) const { return path_ / name; }
  // The names of everything in the folder.
  std::set<std::string> Entries() const;

 private:
#ifdef _WIN32
  std::unique_ptr<ScratchFolder> scratch_;
#endif
  std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
// The path as UTF-8, as the command line passes it.
std::string Utf8(const std::filesystem::path& path);
