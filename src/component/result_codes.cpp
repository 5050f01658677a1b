#include "component/result_codes.h"

#include <map>

namespace {
const std::map<int, std::wstring>& ResultCodeTextIds() {
  static const std::map<int, std::wstring> kTextIds = {
      {0, L"success"},
      {1, L"error_common"},
      {2, L"error_http_download"},
      {3, L"error_xml_parse"},
      {4, L"error_http_download"},
      {5, L"error_http_download"},
      {6, L"error_http_download"},
      {7, L"error_http_download"},
      {8, L"error_http_download"},
      {9, L"error_http_download"},
      {10, L"error_http_download"},
      {11, L"error_http_download"},
      {12, L"error_http_download"},
      {13, L"error_http_download"},
      {14, L"error_file_readwrite"},
      {15, L"error_invalid_package"},
      {16, L"error_install_failed"},
      {17, L"error_reg_access"},
      {18, L"error_file_readwrite"},
      {19, L"error_file_readwrite"},
      {20, L"error_http_download"},
  };
  return kTextIds;
}
}  // namespace

std::wstring ResultCodeTextId(int code) {
  auto found = ResultCodeTextIds().find(code);
  return found == ResultCodeTextIds().end() ? L"error_common" : found->second;
}
