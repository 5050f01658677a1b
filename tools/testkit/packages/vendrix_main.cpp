// The test kit's app-store client "Vendrix.exe": records the full command
// line it was started with in vendrix_cmdline.txt next to itself (UTF-8, no
// line end, blanks kept) and exits. The file appears complete or not at all.
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/module_path.h"
#include "base/text_convert.h"

int wmain() {
  const std::wstring folder = OwnExecutableFolder();
  const std::wstring temporary = folder + L"vendrix_cmdline.tmp";
  const std::wstring recorded = folder + L"vendrix_cmdline.txt";
  {
    std::ofstream out(std::filesystem::path(temporary), std::ios::binary | std::ios::trunc);
    out << WideToUtf8(::GetCommandLineW());
    if (!out) return 1;
  }
  return ::MoveFileExW(temporary.c_str(), recorded.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
