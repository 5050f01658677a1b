// Move-only owners for operating-system handles. Each kind is a traits type
// naming its empty value and its release function; the owner releases exactly
// once and keeps the thread's last-error value intact across the release, so
// a caller may log GetLastError() after an owner went out of scope.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <utility>



template <typename Traits>
class ScopedGeneric {
 public:
  using Handle = typename Traits::Handle;

  ScopedGeneric() = default;
  explicit ScopedGeneric(Handle handle) : handle_(handle) {}
  ScopedGeneric(const ScopedGeneric&) = delete;
  ScopedGeneric& operator=(const ScopedGeneric&) = delete;
  ScopedGeneric(ScopedGeneric&& other) noexcept : handle_(other.Release()) {}
  ScopedGeneric& operator=(ScopedGeneric&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  ~ScopedGeneric() { Reset(); }

  bool IsValid() const { return Traits::IsValid(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Get() const { return handle_; }

  // Releases the held handle (if any) and takes ownership of `handle`.
  void Reset(Handle handle = Traits::Empty()) {
    if (handle_ == handle) return;
    Handle old = std::exchange(handle_, handle);
    if (Traits::IsValid(old)) {
      DWORD error = ::GetLastError();
      Traits::Close(old);
      ::SetLastError(error);
    }
  }

  // Gives up ownership without releasing.
  [[nodiscard]] Handle Release() { return std::exchange(handle_, Traits::Empty()); }

 private:
  Handle handle_ = Traits::Empty();
};

// Kernel handles: null and INVALID_HANDLE_VALUE both count as empty.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};

struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::FindClose(h); }
};

// Registry keys. The predefined roots are never closed.
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Empty() { return nullptr; }
  static bool IsPredefined(Handle h) {
    // Compared as handles: in a 64-bit build the roots are sign-extended.
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                      HKEY_PERFORMANCE_DATA, HKEY_PERFORMANCE_TEXT, HKEY_PERFORMANCE_NLSTEXT,
                      HKEY_CURRENT_CONFIG, HKEY_DYN_DATA, HKEY_CURRENT_USER_LOCAL_SETTINGS}) {
      if (h == root) return true;
    }
    return false;
  }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) {
    if (!IsPredefined(h)) ::RegCloseKey(h);
  }
};

struct WinHttpHandleTraits {
  using Handle = HINTERNET;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::WinHttpCloseHandle(h); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Empty() { return nullptr; }
  static bool IsValid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};

using ScopedHandle = ScopedGeneric<KernelHandleTraits>;
using ScopedFindHandle = ScopedGeneric<FindHandleTraits>;
using ScopedRegKey = ScopedGeneric<RegKeyTraits>;
using ScopedInternetHandle = ScopedGeneric<WinHttpHandleTraits>;
using ScopedGdiObject = ScopedGeneric<GdiObjectTraits>;
using ScopedModule = ScopedGeneric<ModuleTraits>;

// COM interface pointer: released once, never AddRef'd on adoption.
template <typename Interface>
class ScopedComPtr {
 public:
  ScopedComPtr() = default;
  ScopedComPtr(const ScopedComPtr&) = delete;
  ScopedComPtr& operator=(const ScopedComPtr&) = delete;
  ScopedComPtr(ScopedComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ScopedComPtr& operator=(ScopedComPtr&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.ptr_, nullptr));
    return *this;
  }
  ~ScopedComPtr() { Reset(); }

  void Reset(Interface* p = nullptr) {
    if (ptr_ == p) return;
    Interface* old = std::exchange(ptr_, p);
    if (old) {
      DWORD error = ::GetLastError();
      old->Release();
      ::SetLastError(error);
    }
  }
  Interface* Get() const { return ptr_; }
  Interface* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // For out-parameters of creation calls; releases what was held first.
  Interface** Receive() {
    Reset();
    return &ptr_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

 private:
  Interface* ptr_ = nullptr;
};


