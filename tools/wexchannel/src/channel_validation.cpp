#include "channel_validation.h"

#include <cmath>
#include <cstdint>

#include "channel_keys.h"

namespace wexchannel {

namespace {

std::string Quoted(const std::string& key) { return "\"" + key + "\""; }

bool KindMatches(const nlohmann::ordered_json& value, KeyKind kind) {
  switch (kind) {
    case KeyKind::kNumber: return value.is_number();  // booleans are not numbers here
    case KeyKind::kString: return value.is_string();
    case KeyKind::kBoolean: return value.is_boolean();
  }
  return false;
}

// The installer's field for a number key.
struct FieldRange {
  int64_t low;
  uint64_t high;       // inclusive
  double highLimit;    // high + 1, exact as a double
  const char* text;
};

FieldRange RangeOf(NumberField field) {
  switch (field) {
    case NumberField::kUnsigned64:
      return {0, UINT64_MAX, 18446744073709551616.0, "0 to 18446744073709551615"};
    case NumberField::kUnsigned32:
      return {0, UINT32_MAX, 4294967296.0, "0 to 4294967295"};
    case NumberField::kSigned32:
    case NumberField::kNone:
      break;
  }
  return {INT32_MIN, INT32_MAX, 2147483648.0, "-2147483648 to 2147483647"};
}

// Empty when the number arrives unchanged in the installer's field.
std::string NumberProblem(const nlohmann::ordered_json& value, NumberField field) {
  const FieldRange range = RangeOf(field);
  bool inRange = false;
  if (value.is_number_unsigned()) {
    inRange = value.get<uint64_t>() <= range.high;
  } else if (value.is_number_integer()) {
    const int64_t n = value.get<int64_t>();
    inRange = n >= range.low && (n < 0 || static_cast<uint64_t>(n) <= range.high);
  } else {
    const double d = value.get<double>();
    if (std::trunc(d) != d) return "is not a whole number; the installer would truncate it";
    inRange = d >= static_cast<double>(range.low) && d < range.highLimit;
  }
  if (inRange) return {};
  return std::string("is out of range: the installer's field holds ") + range.text;
}

}  // namespace

ValidationReport ValidateChannelDocument(const nlohmann::ordered_json& document) {
  ValidationReport report;
  if (!document.is_object()) {
    report.errors.push_back(std::string("the channel document must be a JSON object, but is ") +
                            document.type_name());
    return report;
  }
  if (document.empty()) report.warnings.push_back("the channel document sets no key");
  for (const auto& [name, value] : document.items()) {
    const ChannelKey* key = FindChannelKey(name);
    if (key == nullptr) {
      report.warnings.push_back("unknown key " + Quoted(name) + " is ignored by the installer");
      continue;
    }
    if (!KindMatches(value, key->kind)) {
      report.errors.push_back("key " + Quoted(name) + " must be " + std::string(KindName(key->kind)) +
                              ", but is " + value.type_name());
      continue;
    }
    if (key->kind != KeyKind::kNumber) continue;
    std::string problem = NumberProblem(value, key->field);
    if (!problem.empty()) {
      report.errors.push_back("key " + Quoted(name) + " value " + value.dump() + " " + problem);
    } else if (name == "silentMode" && value != 0 && value != 1) {
      report.errors.push_back("key \"silentMode\" must be 0 or 1, but is " + value.dump());
    }
  }
  return report;
}

}  // namespace wexchannel
