#include "file_io.h"

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>

#include "tool_error.h"

namespace wexchannel {

namespace fs = std::filesystem;

namespace {

std::string RandomSuffix() {
  std::random_device seed;
  std::mt19937_64 generator(seed());
  return Hex(generator()).substr(2);
}

// Removes the temporary file unless released.
class TemporaryFile {
 public:
  explicit TemporaryFile(fs::path path) : path_(std::move(path)) {}
  ~TemporaryFile() {
    if (!path_.empty()) {
      std::error_code ignored;
      fs::remove(path_, ignored);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const fs::path& Path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  fs::path path_;
};

}  // namespace

std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::vector<uint8_t> ReadWholeFile(const fs::path& path) {
  std::error_code error;
  if (fs::is_directory(path, error)) throw ToolError("cannot read " + PathText(path) + ": it is a folder");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ToolError("cannot open " + PathText(path) + " for reading");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw ToolError("cannot read " + PathText(path));
  return bytes;
}

void WriteFileAtomically(const fs::path& target, std::span<const uint8_t> bytes,
                         const fs::path& permissionsFrom) {
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  // A hidden name beside the target, so that the rename never crosses file systems.
  std::u8string name = u8".";
  name += target.filename().u8string();
  name += u8".";
  for (char c : RandomSuffix()) name += static_cast<char8_t>(c);
  name += u8".tmp";
  TemporaryFile temporary(folder / name);
  {
    std::ofstream out(temporary.Path(), std::ios::binary | std::ios::trunc);
    if (!out) throw ToolError("cannot create a temporary file in " + PathText(folder));
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw ToolError("cannot write " + PathText(temporary.Path()));
  }
  std::error_code error;
  if (!permissionsFrom.empty()) {
    const fs::perms perms = fs::status(permissionsFrom, error).permissions();
    if (!error) fs::permissions(temporary.Path(), perms, error);
  }
  fs::rename(temporary.Path(), target, error);
  if (error) throw ToolError("cannot write " + PathText(target) + ": " + error.message());
  temporary.Release();
}

}  // namespace wexchannel
