// Checks a channel document before it is stamped: what the installer would
// reject or silently change is an error, what it would ignore is a warning.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace wexchannel {

struct ValidationReport {
  std::vector<std::string> errors;    // each names the key at fault
  std::vector<std::string> warnings;  // the document can still be stamped
  bool Ok() const { return errors.empty(); }
};

// Errors: a document that is not an object; a known key whose value is not
// of the JSON type the installer reads; a number that does not arrive
// unchanged in the installer's field (fraction, out of range); "silentMode"
// other than 0 or 1. Warnings: keys the installer ignores, an empty object.
ValidationReport ValidateChannelDocument(const nlohmann::ordered_json& document);

}  // namespace wexchannel
