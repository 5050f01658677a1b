// The test kit's fixture server (tools/testkit/fixture_server.py) as tests
// under Wine see it: started by the ctest fixture wex_dl_server_start with its
// state folder C:\wex\testkit\dl\.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

constexpr wchar_t kFixtureStateDir[] = L"C:\\wex\\testkit\\dl\\";

struct FixturePorts {
  int http = 0;
  int https = 0;          // the primary catalogue host
  int fallbackHttps = 0;  // the fallback catalogue host
  int closed = 0;         // refuses connections
};

// The ports of the first site, read once from ports.json (all 0 without it).
const FixturePorts& FixtureServerPorts();

// A request to the control endpoint, past any proxy. Returns the answer's
// body; adds a test failure when the server cannot be reached.
std::string FixtureControl(const wchar_t* method, const std::string& pathAndQuery,
                           const std::string& body = "");

// Starts another set of listeners serving `filesFolder` (a Windows path
// inside the prefix, made relative to the state folder by the caller or
// absolute in host terms) and returns their ports.
FixturePorts StartFixtureSite(const std::string& hostFolder);

// The records of requests to `path` (all when empty).
nlohmann::json FixtureRequests(const std::string& path);

// Sets (or with null clears) the fault of `key`.
void SetFixtureFault(const std::string& key, const nlohmann::json& fault);
