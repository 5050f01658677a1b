// One open registry key for the installer's settings and for finding the
// platform's installed components. Every operation returns the Windows error
// code of the call that decided it (ERROR_SUCCESS, 0, on success) and never
// throws or logs: callers decide whether a failure is worth a log line.
#pragma once

#include <windows.h>

#include <string>

#include "base/scoped_handle.h"

class SettingsKey {
 public:
  // KEY_READ | KEY_WRITE: nearly every open, and every create.
  static constexpr REGSAM kReadWrite = 0x0002001F;
  // KEY_READ.
  static constexpr REGSAM kReadOnly = 0x00020019;
  // The bits of an access mask that choose the 32- or 64-bit registry view.
  static constexpr REGSAM kViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
  // Characters (terminator included) of the buffer the std::wstring reader
  // uses; a longer value gives ERROR_MORE_DATA.
  static constexpr DWORD kStringBufferChars = 260;
  // Characters (terminator included) of a subkey name that TryEnumSubKey and
  // TryDeleteTree can handle.
  static constexpr DWORD kSubKeyNameChars = 256;

  // The access mask actually passed to the registry for `access`. The product
  // is a 32-bit process and names no view, so machine-wide values live in the
  // 32-bit view; a 64-bit build adds KEY_WOW64_32KEY (unless `access` already
  // names a view) to keep them there. A 32-bit build returns `access` as is.
  static constexpr REGSAM WithProductView(REGSAM access) {
#ifdef _WIN64
    // A 64-bit build must keep machine-wide values where the 32-bit product and its peers find them.
    if ((access & kViewMask) == 0) access |= KEY_WOW64_32KEY;
#endif
    return access;
  }

  SettingsKey() = default;
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;
  SettingsKey(SettingsKey&& other) noexcept;
  SettingsKey& operator=(SettingsKey&& other) noexcept;
  ~SettingsKey() = default;  // the held key, if any, is closed

  // Opens `path` below `root` (HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER) with
  // `access` (kReadWrite or kReadOnly). On success the previously held key is
  // closed and replaced and View() becomes the view bits of the mask used; on
  // failure the key and its view are unchanged.
  LONG TryOpen(HKEY root, const wchar_t* path, REGSAM access);

  // Opens `path` below `root` for kReadWrite, creating it (non-volatile,
  // default security) when missing. On success the previously held key is
  // closed and replaced and, when `disposition` is given, it receives
  // REG_CREATED_NEW_KEY (1) or REG_OPENED_EXISTING_KEY (2). On failure the
  // key, its view and *disposition are unchanged.
  LONG TryCreate(HKEY root, const wchar_t* path, DWORD* disposition = nullptr);

  // Reads a REG_SZ or REG_EXPAND_SZ value (not expanded) into `buffer`, whose
  // capacity *lengthInChars gives in characters. On success *lengthInChars is
  // the stored byte size / 2, terminator included (1 for an empty value, even
  // one stored with no bytes at all), and `buffer` holds the terminated text.
  // Another type, an odd byte size or a last character that is not zero gives
  // ERROR_INVALID_DATA (13); a value larger than the buffer gives
  // ERROR_MORE_DATA (234). After a failure the buffer content is unspecified
  // and *lengthInChars unchanged.
  LONG TryReadString(const wchar_t* name, wchar_t* buffer, DWORD* lengthInChars) const;
  // The same through a buffer of kStringBufferChars; `out` receives the text
  // up to its first zero on success and is left unchanged on failure.
  LONG TryReadString(const wchar_t* name, std::wstring& out) const;

  // Stores `text` as REG_SZ with its terminator. A null `text` gives
  // ERROR_INVALID_DATA (13) and writes nothing.
  LONG TryWriteString(const wchar_t* name, const wchar_t* text);

  // Reads a REG_DWORD value. Any other type or a size other than 4 bytes
  // gives ERROR_INVALID_DATA (13). `out` is changed only on success.
  LONG TryReadDword(const wchar_t* name, DWORD& out) const;
  // Stores `value` as a 4-byte REG_DWORD.
  LONG TryWriteDword(const wchar_t* name, DWORD value);

  // The name of the subkey at `index` (0-based); ERROR_NO_MORE_ITEMS (259)
  // past the last one. `name` is changed only on success.
  LONG TryEnumSubKey(DWORD index, std::wstring& name) const;

  // Deletes the direct subkey `name`, which must have no subkeys of its own,
  // in this key's view. A null or empty name gives ERROR_INVALID_PARAMETER
  // (87) so that the key itself is never the target.
  LONG TryDeleteSubKey(const wchar_t* name);
  // Deletes the subkey `name` and everything below it, deepest first, in this
  // key's view. Returns the first error met: a missing subkey gives the
  // error of opening it and deletes nothing; a failure part way leaves the
  // keys not yet deleted in place. Null or empty name: as TryDeleteSubKey.
  LONG TryDeleteTree(const wchar_t* name);

  // Closes the held key, if any. Closing an empty key does nothing.
  void Close();

  // The open key, or null. Owned by this object: do not close it.
  HKEY Handle() const { return key_.Get(); }
  // The view bits (mask & kViewMask) of the access mask the held key was
  // opened or created with: 0 in a 32-bit build, KEY_WOW64_32KEY in a 64-bit
  // build unless the caller asked for a view.
  REGSAM View() const { return view_; }

 private:
  ScopedRegKey key_;
  REGSAM view_ = 0;
};
