#include "base/winreg.h"

#include "base/settings_key.h"

namespace winreg {

void Key::Create(HKEY root, const std::wstring& path) {
  HKEY raw = nullptr;
  LONG result = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  SettingsKey::WithProductView(SettingsKey::kReadWrite), nullptr,
                                  &raw, nullptr);
  if (result != ERROR_SUCCESS) throw RegException("RegCreateKeyEx failed.", result);
  key_.Reset(raw);
}

std::wstring Key::GetString(const std::wstring& name) const {
  DWORD bytes = 0;
  LONG result =
      ::RegGetValueW(key_.Get(), nullptr, name.c_str(), RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
  if (result != ERROR_SUCCESS) {
    throw RegException("Cannot get size of string value: RegGetValue failed.", result);
  }
  std::wstring text(bytes / sizeof(wchar_t), L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  result = ::RegGetValueW(key_.Get(), nullptr, name.c_str(), RRF_RT_REG_SZ, nullptr, text.data(),
                          &bytes);
  if (result != ERROR_SUCCESS) {
    throw RegException("Cannot get string value: RegGetValue failed.", result);
  }
  // `bytes` now counts what was written (the value may have shrunk since the
  // size was asked for). Windows always counts a terminator here; Wine does
  // not add one to a value stored without it, so only a zero is cut off.
  text.resize(bytes / sizeof(wchar_t));
  if (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

void Key::SetString(const std::wstring& name, const std::wstring& value) {
  const size_t bytes = (value.size() + 1) * sizeof(wchar_t);
  LONG result = bytes > MAXDWORD ? static_cast<LONG>(ERROR_INVALID_DATA)
                                  : ::RegSetValueExW(key_.Get(), name.c_str(), 0, REG_SZ,
                                                     reinterpret_cast<const BYTE*>(value.c_str()),
                                                     static_cast<DWORD>(bytes));
  if (result != ERROR_SUCCESS) {
    throw RegException("Cannot write string value: RegSetValueEx failed.", result);
  }
}

void Key::Close() noexcept { key_.Reset(); }

}  // namespace winreg
