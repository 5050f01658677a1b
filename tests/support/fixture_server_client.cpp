#include "support/fixture_server_client.h"

#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "support/test_paths.h"

namespace {
FixturePorts PortsOf(const nlohmann::json& json) {
  FixturePorts ports;
  if (json.is_object()) {
    ports.http = json.value("http", 0);
    ports.https = json.value("https", 0);
    ports.fallbackHttps = json.value("fallbackHttps", 0);
    ports.closed = json.value("closed", 0);
  }
  return ports;
}
}  // namespace

const FixturePorts& FixtureServerPorts() {
  static const FixturePorts ports = PortsOf(nlohmann::json::parse(
      ReadFileBytes(std::wstring(kFixtureStateDir) + L"ports.json"), nullptr, false));
  return ports;
}

std::string FixtureControl(const wchar_t* method, const std::string& pathAndQuery,
                           const std::string& body) {
  ScopedInternetHandle session(::WinHttpOpen(L"fixture-control", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  ScopedInternetHandle connection(::WinHttpConnect(
      session.Get(), L"127.0.0.1", static_cast<INTERNET_PORT>(FixtureServerPorts().http), 0));
  std::wstring target = Utf8ToWide(pathAndQuery);
  ScopedInternetHandle request(::WinHttpOpenRequest(connection.Get(), method, target.c_str(),
                                                    nullptr, WINHTTP_NO_REFERER,
                                                    WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  std::string answer;
  if (!request ||
      !::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0) ||
      !::WinHttpReceiveResponse(request.Get(), nullptr)) {
    ADD_FAILURE() << "the fixture server's control endpoint is unreachable: run the tests "
                     "through ctest, whose fixture wex_dl_server_start starts it";
    return answer;
  }
  char buffer[4096];
  DWORD read = 0;
  while (::WinHttpReadData(request.Get(), buffer, sizeof buffer, &read) && read != 0) {
    answer.append(buffer, read);
  }
  return answer;
}

FixturePorts StartFixtureSite(const std::string& hostFolder) {
  return PortsOf(nlohmann::json::parse(
      FixtureControl(L"POST", "/control/site?files=" + hostFolder), nullptr, false));
}

nlohmann::json FixtureRequests(const std::string& path) {
  nlohmann::json list = nlohmann::json::parse(
      FixtureControl(L"GET", "/control/requests" + (path.empty() ? "" : "?path=" + path)), nullptr,
      false);
  return list.is_array() ? list : nlohmann::json::array();
}

void SetFixtureFault(const std::string& key, const nlohmann::json& fault) {
  FixtureControl(L"POST", "/control/faults", nlohmann::json{{key, fault}}.dump());
}
