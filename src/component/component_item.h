// One platform component as the catalogue describes it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct ComponentItem {
  int32_t id = -1;
  std::wstring name;            // package file name inside its download folder
  std::wstring localAddPath;    // sub-path appended to the download and install roots
  bool installInX86 = true;
  bool installInX64 = true;
  std::wstring writePathToRegKey;  // key under HKEY_LOCAL_MACHINE for "InstallPath"
  uint64_t dlId = 0;
  std::wstring hash;            // MD5 of the package, hexadecimal, any case
  uint64_t fileSize = 0;        // bytes, as announced
  std::wstring url;
  std::wstring versionText;
  uint64_t versionNumber = 0;   // packed, 16 bits per part; 0 when it does not pack
  std::wstring downloadDir;     // filled by the download step
  std::wstring packagePath;     // filled once the package is downloaded and verified
};

// Records by ascending id; the first record inserted for an id stays.
using ComponentMap = std::map<int32_t, ComponentItem>;
