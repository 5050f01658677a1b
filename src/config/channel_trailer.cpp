#include "config/channel_trailer.h"

#include <cctype>
#include <cstring>

#include "base/md5.h"

ChannelTrailer ChannelTrailer::Parse(const uint8_t* bytes) {
  ChannelTrailer trailer;
  trailer.magic = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  trailer.length = static_cast<uint32_t>(bytes[2]) | (static_cast<uint32_t>(bytes[3]) << 8) |
                   (static_cast<uint32_t>(bytes[4]) << 16) | (static_cast<uint32_t>(bytes[5]) << 24);
  const char* text = reinterpret_cast<const char*>(bytes + 6);
  trailer.digest.assign(text, strnlen(text, 32));
  return trailer;
}

std::array<uint8_t, ChannelTrailer::kSize> ChannelTrailer::Build(const void* data, uint32_t length) {
  std::array<uint8_t, kSize> out{};
  out[0] = static_cast<uint8_t>(kMagic & 0xFF);
  out[1] = static_cast<uint8_t>(kMagic >> 8);
  for (int i = 0; i < 4; ++i) out[2 + i] = static_cast<uint8_t>(length >> (8 * i));
  std::string hex = Md5::HexOf(data, length);
  for (size_t i = 0; i < 32; ++i) {
    out[6 + i] = static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(hex[i])));
  }
  out[38] = 0x00;
  out[39] = 0x01;
  return out;
}
