// Registry access that reports failure by throwing RegException: the message
// names the failed step and Code() carries the Windows error code. Callers
// catch it and log what(); nothing here logs.
#pragma once

#include <windows.h>

#include <stdexcept>
#include <string>

#include "base/scoped_handle.h"

namespace winreg {

class RegException : public std::runtime_error {
 public:
  RegException(const char* message, LONG code) : std::runtime_error(message), code_(code) {}
  // The Windows error code of the failed call.
  LONG Code() const noexcept { return code_; }

 private:
  LONG code_;
};

// One open key, closed on destruction. Move-only.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  Key(Key&&) noexcept = default;
  Key& operator=(Key&&) noexcept = default;
  ~Key() = default;

  // Opens `path` below `root` for read and write, creating it (non-volatile)
  // when missing, and replaces the held key. The program uses
  // HKEY_CURRENT_USER. Throws "RegCreateKeyEx failed."; the held key is then
  // unchanged.
  void Create(HKEY root, const std::wstring& path);

  // The REG_SZ value `name`, without its terminator. Throws
  // "Cannot get size of string value: RegGetValue failed." when the value is
  // missing, of another type or no key is held, and
  // "Cannot get string value: RegGetValue failed." when reading the data fails.
  std::wstring GetString(const std::wstring& name) const;

  // Stores `value` as REG_SZ with its terminator. Throws
  // "Cannot write string value: RegSetValueEx failed.".
  void SetString(const std::wstring& name, const std::wstring& value);

  // Closes the held key, if any; never a predefined root.
  void Close() noexcept;

  // The open key, or null. Owned by this object: do not close it.
  HKEY Handle() const { return key_.Get(); }

 private:
  ScopedRegKey key_;
};

}  // namespace winreg
