#include "base/file_system.h"

#include <windows.h>

#include "base/scoped_handle.h"

bool FileExists(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) != FALSE;
}

bool DeleteDirectoryTree(const std::wstring& folder, std::vector<std::wstring>& failedPaths,
                         bool deferToReboot) {
  // An empty path names no folder; with "\" appended it would name the root
  // of the current drive, and everything on it would go.
  if (folder.empty()) return false;
  std::wstring base = folder;
  if (base.empty() || base.back() != L'\\') base += L'\\';
  WIN32_FIND_DATAW entry;
  bool ok = true;
  {
    ScopedFindHandle find(::FindFirstFileW((base + L"*").c_str(), &entry));
    if (!find) return false;
    do {
      std::wstring name = entry.cFileName;
      std::wstring full = base + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (name == L"." || name == L"..") continue;
        // A junction or folder link is removed itself; what it points at
        // lies outside the tree and is never touched.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            !DeleteDirectoryTree(full, failedPaths, deferToReboot)) {
          ok = false;
        }
        ::RemoveDirectoryW(full.c_str());
      } else {
        BOOL removed = deferToReboot
                           ? ::MoveFileExW(full.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)
                           : ::DeleteFileW(full.c_str());
        if (!removed) {
          failedPaths.push_back(full);
          ok = false;
        }
      }
    } while (::FindNextFileW(find.Get(), &entry));
  }
  ::RemoveDirectoryW(base.c_str());
  return ok;
}
