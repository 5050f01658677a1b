#include "base/scoped_handle.h"

#include <gtest/gtest.h>

namespace {

TEST(ScopedHandle, ReleasesOnceAndKeepsLastError) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    ScopedHandle first(raw);
    ScopedHandle second(std::move(first));
    EXPECT_FALSE(first.IsValid());
    EXPECT_EQ(second.Get(), raw);
    ::SetLastError(1234);
  }
  EXPECT_EQ(::GetLastError(), 1234u) << "closing must not disturb the caller's error";
  EXPECT_FALSE(::SetEvent(raw)) << "the handle is closed";
}

TEST(ScopedHandle, BothEmptyValuesCountAsEmpty) {
  EXPECT_FALSE(ScopedHandle(nullptr).IsValid());
  EXPECT_FALSE(ScopedHandle(INVALID_HANDLE_VALUE).IsValid());
  ScopedHandle handle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE raw = handle.Release();
  EXPECT_FALSE(handle.IsValid());
  EXPECT_TRUE(::SetEvent(raw)) << "released, not closed";
  handle.Reset(raw);
}

TEST(ScopedHandle, PredefinedRegistryRootsAreNeverClosed) {
  { ScopedRegKey root(HKEY_CURRENT_USER); }
  HKEY key = nullptr;
  EXPECT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &key), ERROR_SUCCESS);
  ScopedRegKey owned(key);
}

}  // namespace
