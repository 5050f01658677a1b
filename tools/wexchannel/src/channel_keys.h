// The keys of a channel document that the installer reads, in the order it
// applies them, with the JSON type it reads each one as.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace wexchannel {

enum class KeyKind { kNumber, kString, kBoolean };

// The integer field a number key lands in; the installer converts the JSON
// number to it without any range check.
enum class NumberField { kNone, kUnsigned64, kUnsigned32, kSigned32 };

struct ChannelKey {
  std::string_view name;
  KeyKind kind;
  NumberField field = NumberField::kNone;
};

// Every key the installer reads, in its order of application.
std::span<const ChannelKey> ChannelKeys();
// Null for a key the installer ignores.
const ChannelKey* FindChannelKey(std::string_view name);
// "a number", "a string", "a boolean".
std::string_view KindName(KeyKind kind);

}  // namespace wexchannel
