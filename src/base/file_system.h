// File-system helpers that report failure through their results only.
#pragma once

#include <string>
#include <vector>

// True when the path names an existing file or folder.
bool FileExists(const std::wstring& path);

// Removes the folder and everything below it. Files that cannot be deleted
// (or, with deferToReboot, scheduled for deletion at the next restart) are
// appended to failedPaths and make the result false; a missing folder, or an
// empty path, is false with nothing listed. Read-only files are not made
// writable first.
bool DeleteDirectoryTree(const std::wstring& folder, std::vector<std::wstring>& failedPaths,
                         bool deferToReboot);
