// MD5 message digest (RFC 1321). Portable: no platform calls, so the channel
// tool built for Linux shares it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

class Md5 {
 public:
  using Digest = std::array<uint8_t, 16>;

  Md5();
  void Update(const void* data, size_t length);
  // Ends the computation; the object must not be updated afterwards.
  Digest Final();

  // 32 lowercase hexadecimal digits.
  static std::string ToHex(const Digest& digest);
  static std::string HexOf(const void* data, size_t length);

 private:
  void Transform(const uint8_t* block);

  uint32_t state_[4];
  uint64_t bitCount_ = 0;
  uint8_t buffer_[64];
};
