#include "base/file_hash.h"

#include <windows.h>

#include <memory>

#include "base/logger.h"
#include "base/md5.h"
#include "base/scoped_handle.h"

namespace {
constexpr DWORD kChunkBytes = 0x10000;
}

std::string GetFileHexMd5(const std::wstring& path) {
  ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    DWORD error = ::GetLastError();
    LOG_ERROR("utils") << "open " << path << " failed. error code: " << error;
    return {};
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) {
    DWORD error = ::GetLastError();
    LOG_ERROR("utils") << "get " << path << " file size failed. error code: " << error;
    return {};
  }
  auto buffer = std::make_unique<uint8_t[]>(kChunkBytes);
  Md5 md5;
  uint64_t total = static_cast<uint64_t>(size.QuadPart);
  uint64_t done = 0;
  while (done < total) {
    DWORD want = static_cast<DWORD>(total - done < kChunkBytes ? total - done : kChunkBytes);
    DWORD got = 0;
    ::SetLastError(ERROR_SUCCESS);
    if (!::ReadFile(file.Get(), buffer.get(), want, &got, nullptr) || got == 0) {
      // A read of zero bytes before the end: the file shrank under us.
      DWORD error = ::GetLastError();
      if (error == ERROR_SUCCESS) error = ERROR_HANDLE_EOF;
      LOG_ERROR("utils") << "read file buffer failed. error code: " << error;
      return {};
    }
    md5.Update(buffer.get(), got);
    done += got;
  }
  return Md5::ToHex(md5.Final());
}

std::string GetDataHexMd5(const void* data, size_t length) { return Md5::HexOf(data, length); }

bool HexDigestEquals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
