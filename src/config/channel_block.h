// Channel blocks: JSON documents appended to the executable, each followed by
// a ChannelTrailer, chained from the end of the file toward its start.
// GlobalConfig::InitParamsFromSelf (defined with this module) reads them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

class GlobalConfig;

// Walks the blocks of `path` from its end, verifying each digest, and returns
// the parsed documents nearest-the-end first. Every way the walk ends is
// logged (module "GConfig"); no length makes it allocate more than the file
// holds in front of the trailer.
std::vector<nlohmann::json> ReadChannelDocuments(const std::wstring& path);

// Applies one document to the configuration in key order. Throws the JSON
// library's type_error at the first value of the wrong type; keys applied
// before it keep their values.
void ApplyChannelDocument(const nlohmann::json& document, GlobalConfig& config);
