#include "temp_folder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#ifdef _WIN32
#include "support/test_paths.h"
#else
#include <stdlib.h>
#endif

namespace fs = std::filesystem;

TempFolder::TempFolder() {
#ifdef _WIN32
  scratch_ = std::make_unique<ScratchFolder>();
  path_ = fs::path(scratch_->Path()).parent_path();
#else
  std::string pattern = (fs::temp_directory_path() / "wexchannel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
#endif
}

TempFolder::~TempFolder() {
#ifndef _WIN32
  std::error_code ignored;
  fs::remove_all(path_, ignored);
#endif
}

std::set<std::string> TempFolder::Entries() const {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(path_)) names.insert(Utf8(entry.path().filename()));
  return names;
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << Utf8(path);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
