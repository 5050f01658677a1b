#include "net/http_request.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "support/test_paths.h"

namespace {

// The loopback servers of tools/testkit/https_server.py, started by the ctest
// fixture wex_net_server_start, which writes their ports here.
constexpr wchar_t kPortsFile[] = L"C:\\wex\\testkit\\net\\ports.json";

struct TestServers {
  int https = 0;
  int http = 0;
  int proxy = 0;
  int closed = 0;  // refuses connections
  std::string proxyHost;  // known to the proxy only
};

const TestServers& Servers() {
  static const TestServers servers = [] {
    TestServers s;
    nlohmann::json ports = nlohmann::json::parse(ReadFileBytes(kPortsFile), nullptr, false);
    if (ports.is_object()) {
      s.https = ports.value("https", 0);
      s.http = ports.value("http", 0);
      s.proxy = ports.value("proxy", 0);
      s.closed = ports.value("closed", 0);
      s.proxyHost = ports.value("proxyHost", "");
    }
    return s;
  }();
  return servers;
}

std::string Https(const std::string& path) {
  return "https://127.0.0.1:" + std::to_string(Servers().https) + path;
}
std::string Http(const std::string& path) {
  return "http://127.0.0.1:" + std::to_string(Servers().http) + path;
}

// A path that no other test or run shares, so the server's record of it
// belongs to the calling test alone.
std::string UniquePath(const std::string& route) {
  static int counter = 0;
  return route + "/" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(::GetTickCount64()) + "-" + std::to_string(counter++);
}

// The requests the server received for `path` (without query), oldest first.
nlohmann::json Recorded(const std::string& path) {
  HttpResult answer = HttpGet(Http("/requests?path=" + path), L"utf-8");
  EXPECT_TRUE(answer.ok) << "the request log of the test server is unreachable";
  nlohmann::json list = nlohmann::json::parse(answer.body, nullptr, false);
  return list.is_array() ? list : nlohmann::json::array();
}

std::vector<std::string> HeaderValues(const nlohmann::json& request, const std::string& name) {
  std::vector<std::string> values;
  for (const auto& header : request["headers"]) {
    if (_stricmp(header[0].get<std::string>().c_str(), name.c_str()) == 0) {
      values.push_back(header[1].get<std::string>());
    }
  }
  return values;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// The server's /size/<n> body: each 9-byte line names its own offset.
std::string PositionBytes(size_t size) {
  std::string out;
  char line[16];
  for (size_t offset = 0; out.size() < size; offset += 9) {
    snprintf(line, sizeof line, "%08zu\n", offset);
    out += line;
  }
  out.resize(size);
  return out;
}

class HttpRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, Servers().https) << "no test server: run the tests through ctest, whose fixture "
                                     "wex_net_server_start writes C:\\wex\\testkit\\net\\ports.json";
  }
};

// ---- Character sets ----

const std::string kCharsetBody = "caf\xc3\xa9 \xe2\x82\xac";  // "café €" in UTF-8

struct CharsetCase {
  const char* variant;  // the server's response headers, see CHARSET_VARIANTS
  const wchar_t* hint;
  bool decodedAsUtf8;
};

class CharsetTest : public HttpRequestTest, public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(CharsetTest, DecodesWithTheAnswersCharsetElseTheHintElseAnsi) {
  const CharsetCase& c = GetParam();
  std::string ansi = WideToUtf8(AnsiToWide(kCharsetBody));
  ASSERT_NE(ansi, kCharsetBody) << "the ANSI code page must differ from UTF-8 for this test";

  HttpResult result = HttpGet(Https(std::string("/charset/") + c.variant), c.hint);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(200, result.statusCode);
  EXPECT_EQ(c.decodedAsUtf8 ? kCharsetBody : ansi, result.body);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, CharsetTest,
    ::testing::Values(CharsetCase{"header-utf8", L"", true},     // "Charset=UTF-8"
                      CharsetCase{"none", L"utf-8", true},
                      CharsetCase{"none", L"", false},
                      CharsetCase{"header-latin1", L"utf-8", false},  // the answer wins
                      CharsetCase{"first-wins", L"", false}));  // windows-1252, then utf-8

// ---- Bodies ----

class BodySizeTest : public HttpRequestTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BodySizeTest, ArrivesWhole) {
  std::string path = GetParam();
  size_t size = std::stoul(path.substr(path.rfind('/') + 1));
  HttpResult result = HttpGet(Https(path), L"");
  ASSERT_TRUE(result.ok);
  ASSERT_EQ(size, result.body.size());
  EXPECT_TRUE(result.body == PositionBytes(size)) << "the body differs from what was sent";
}

// Around the first buffer of 10240 bytes (which keeps one byte for the
// terminating zero), and several hundred KiB, plain and chunked.
INSTANTIATE_TEST_SUITE_P(Sizes, BodySizeTest,
                         ::testing::Values("/size/10239", "/size/10240", "/size/307200",
                                           "/size/524288?chunked=1"));

TEST_F(HttpRequestTest, ZeroByteEndsTheText) {
  HttpResult result = HttpGet(Https("/zero-mid-body"), L"");
  ASSERT_TRUE(result.ok);
  EXPECT_EQ("before", result.body);
}

TEST_F(HttpRequestTest, ErrorPageIsCompleteButNotGood) {
  HttpResult result = HttpGet(Https("/status/404"), L"");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(404, result.statusCode);
  EXPECT_NE(std::string::npos, result.body.find("error page"));
  EXPECT_FALSE(IsHttpResultGood(result));
}

// WinHTTP (Wine at least) takes any three characters as a status code.
TEST_F(HttpRequestTest, NonNumericStatusGivesZero) {
  HttpResult result = HttpGet(Https("/status/abc"), L"");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(0, result.statusCode);
  EXPECT_NE(std::string::npos, result.body.find("error page"));
}

TEST(HttpResultTest, GoodMeansCompleteBelow400WithABody) {
  EXPECT_TRUE(IsHttpResultGood({true, 200, "x"}));
  EXPECT_TRUE(IsHttpResultGood({true, 399, "x"}));
  EXPECT_TRUE(IsHttpResultGood({true, 0, "x"}));
  EXPECT_FALSE(IsHttpResultGood({true, 400, "x"}));
  EXPECT_FALSE(IsHttpResultGood({true, 200, ""}));
  EXPECT_FALSE(IsHttpResultGood({false, 200, "x"}));
  EXPECT_FALSE(HttpResult{});
}

TEST(HttpStatusCodeFromTextTest, OnlyDecimalTextIsANumber) {
  EXPECT_EQ(200, HttpStatusCodeFromText(L"200"));
  EXPECT_EQ(404, HttpStatusCodeFromText(L"404"));
  for (const wchar_t* text : {L"", L"abc", L"20x", L" 200", L"-1", L"9999999999"}) {
    EXPECT_EQ(0, HttpStatusCodeFromText(text)) << WideToUtf8(text);
  }
}

// ---- Retries of truncated pages ----

struct RetryCase {
  const wchar_t* method;
  const char* route;  // a path prefix; the case's own token is added
  const char* query;
  bool ok;
  int requests;  // as counted by the server
  const char* bodyPart;
};

class RetryTest : public HttpRequestTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(RetryTest, AsksAgainOnlyForAnOpenHtmlPage) {
  const RetryCase& c = GetParam();
  std::string path = UniquePath(c.route);
  CHttpRequest request(Utf8ToWide(Https(path + c.query)));
  EXPECT_EQ(c.ok, request.Send(c.method));
  EXPECT_EQ(static_cast<size_t>(c.requests), Recorded(path).size());
  if (c.ok) {
    EXPECT_NE(std::wstring::npos, request.BodyText().find(Utf8ToWide(c.bodyPart)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RetryTest,
    ::testing::Values(RetryCase{L"GET", "/html", "?truncated=99", false, 3, ""},
                      RetryCase{L"GET", "/html", "?truncated=1", true, 2, "whole page"},
                      RetryCase{L"GET", "/xml", "", true, 1, "<catalog>"},
                      RetryCase{L"POST", "/html", "?truncated=99", true, 1, "first part"}));

TEST_F(HttpRequestTest, AllAttemptsFailedGivesNothing) {
  std::string path = UniquePath("/echo");
  HttpResult result = HttpPost(Https(path + "?fail=3"), "payload", "text/plain");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(0, result.statusCode);
  EXPECT_EQ("", result.body);
  EXPECT_EQ(3u, Recorded(path).size());
}

// ---- POST ----

struct PostCase {
  std::string body;
  std::string contentType;
  int failures;  // answers the server drops before it echoes
};

class PostTest : public HttpRequestTest, public ::testing::WithParamInterface<PostCase> {};

TEST_P(PostTest, EveryAttemptCarriesOneLengthAndOneType) {
  const PostCase& c = GetParam();
  std::string path = UniquePath("/echo");
  HttpResult result = HttpPost(Https(path + "?fail=" + std::to_string(c.failures)), c.body,
                               c.contentType);
  ASSERT_TRUE(result.ok);
  EXPECT_EQ(200, result.statusCode);
  nlohmann::json echo = nlohmann::json::parse(result.body, nullptr, false);
  ASSERT_TRUE(echo.is_object()) << result.body;
  EXPECT_EQ("POST", echo["method"]);
  EXPECT_EQ(Hex(c.body), echo["bodyHex"]);

  nlohmann::json attempts = Recorded(path);
  EXPECT_EQ(static_cast<size_t>(c.failures + 1), attempts.size());
  for (const auto& attempt : attempts) {
    EXPECT_EQ(std::vector<std::string>{std::to_string(c.body.size())},
              HeaderValues(attempt, "Content-Length"));
    EXPECT_EQ(std::vector<std::string>{c.contentType}, HeaderValues(attempt, "Content-Type"));
    EXPECT_EQ(Hex(c.body), attempt["bodyHex"]);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PostTest,
    ::testing::Values(PostCase{"a=1&b=%C3%A9", "application/x-www-form-urlencoded", 0},
                      PostCase{"{\"k\":\"caf\xc3\xa9\"}", "application/json", 2},
                      PostCase{"", "", 1}));

// ---- Failures ----

TEST_F(HttpRequestTest, UnreachablePortFailsWithTheSystemsError) {
  std::string url = "https://127.0.0.1:" + std::to_string(Servers().closed) + "/";
  HttpResult result = HttpGet(url, L"utf-8");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(0, result.statusCode);
  EXPECT_EQ("", result.body);

  CHttpRequest request(Utf8ToWide(url));
  EXPECT_FALSE(request.Send(L"GET"));
  DWORD error = ::GetLastError();
  EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), error) << "the failing call's code is lost";
  EXPECT_EQ(L"", request.StatusText());
}

struct MethodCase {
  const wchar_t* method;
  const char* sent;  // nullptr: fails before anything is sent
};

class MethodTest : public HttpRequestTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(MethodTest, OnlyGetAndPostInAnyCase) {
  const MethodCase& c = GetParam();
  std::string path = UniquePath("/echo");
  CHttpRequest request(Utf8ToWide(Https(path)));
  EXPECT_EQ(c.sent != nullptr, request.Send(c.method));
  nlohmann::json attempts = Recorded(path);
  if (!c.sent) {
    EXPECT_EQ(0u, attempts.size());
  } else {
    ASSERT_EQ(1u, attempts.size());
    EXPECT_EQ(c.sent, attempts[0]["method"]);
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, MethodTest,
                         ::testing::Values(MethodCase{L"get", "GET"}, MethodCase{L"Post", "POST"},
                                           MethodCase{L"PUT", nullptr},
                                           MethodCase{L"HEAD", nullptr},
                                           MethodCase{L"", nullptr}));

TEST_F(HttpRequestTest, UnusableUrlFailsAtOnce) {
  for (const wchar_t* url : {L"", L"not a url", L"ftp://127.0.0.1/file"}) {
    CHttpRequest request(url);
    ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(request.Send(L"GET")) << WideToUtf8(url);
    EXPECT_LT(::GetTickCount64() - start, 5000u) << WideToUtf8(url);
  }
}

// ---- Certificates ----

TEST_F(HttpRequestTest, ReadsPlainHttpAndAnUntrustedCertificate) {
  // Control first (WinHTTP reuses a verified connection to the same server):
  // with the system's default checks the server is refused, so the client's
  // relaxed checks are what make it readable. The error code differs:
  // 12175 on Windows, 12157 under Wine.
  {
    ScopedInternetHandle session(::WinHttpOpen(L"control", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                               WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    ScopedInternetHandle connect(::WinHttpConnect(session.Get(), L"127.0.0.1",
                                                  static_cast<INTERNET_PORT>(Servers().https), 0));
    ScopedInternetHandle request(::WinHttpOpenRequest(
        connect.Get(), L"GET", L"/xml/control", nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    ASSERT_TRUE(request);
    bool answered = ::WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                         WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
                    ::WinHttpReceiveResponse(request.Get(), nullptr);
    EXPECT_FALSE(answered);
  }
  EXPECT_TRUE(IsHttpResultGood(HttpGet(Https(UniquePath("/xml")), L"")));
  EXPECT_TRUE(IsHttpResultGood(HttpGet(Http(UniquePath("/xml")), L"")));
}

// ---- Proxy from the user's Internet settings ----

// Replaces the per-user proxy settings (the values of the settings dialog and
// the binary DefaultConnectionSettings, which WinHTTP reads) and puts back on
// destruction exactly what was there.
class InternetSettingsOverride {
 public:
  static constexpr DWORD kDirect = 1, kNamedProxy = 2, kScript = 4;

  InternetSettingsOverride(DWORD flags, const std::string& proxy, const std::string& bypass,
                           const std::string& scriptUrl) {
    Save(kSettingsKey, L"ProxyEnable");
    Save(kSettingsKey, L"ProxyServer");
    Save(kSettingsKey, L"ProxyOverride");
    Save(kSettingsKey, L"AutoConfigURL");
    Save(kConnectionsKey, L"DefaultConnectionSettings");

    DWORD enable = (flags & kNamedProxy) ? 1 : 0;
    Write(kSettingsKey, L"ProxyEnable", REG_DWORD, std::string(reinterpret_cast<char*>(&enable), 4));
    WriteText(kSettingsKey, L"ProxyServer", proxy);
    WriteText(kSettingsKey, L"ProxyOverride", bypass);
    WriteText(kSettingsKey, L"AutoConfigURL", scriptUrl);

    std::string blob;
    auto put = [&blob](DWORD value) { blob.append(reinterpret_cast<const char*>(&value), 4); };
    put(0x46);  // the layout's version
    put(1);     // change counter
    put(flags);
    for (const std::string* text : {&proxy, &bypass, &scriptUrl}) {
      put(static_cast<DWORD>(text->size()));
      blob += *text;
    }
    blob.append(32, '\0');  // detection results, unused here
    Write(kConnectionsKey, L"DefaultConnectionSettings", REG_BINARY, blob);
  }

  ~InternetSettingsOverride() {
    for (const Saved& saved : saved_) {
      ScopedRegKey key = Open(saved.key);
      if (saved.data) {
        ::RegSetValueExW(key.Get(), saved.name, 0, saved.type,
                         reinterpret_cast<const BYTE*>(saved.data->data()),
                         static_cast<DWORD>(saved.data->size()));
      } else {
        ::RegDeleteValueW(key.Get(), saved.name);
      }
    }
  }

  InternetSettingsOverride(const InternetSettingsOverride&) = delete;
  InternetSettingsOverride& operator=(const InternetSettingsOverride&) = delete;

 private:
  static constexpr wchar_t kSettingsKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  static constexpr wchar_t kConnectionsKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

  struct Saved {
    const wchar_t* key;
    const wchar_t* name;
    DWORD type;
    std::optional<std::string> data;
  };

  static ScopedRegKey Open(const wchar_t* path) {
    HKEY key = nullptr;
    ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key,
                      nullptr);
    return ScopedRegKey(key);
  }

  void Save(const wchar_t* path, const wchar_t* name) {
    ScopedRegKey key = Open(path);
    ASSERT_TRUE(key);
    Saved saved{path, name, REG_NONE, std::nullopt};
    DWORD bytes = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &saved.type, nullptr, &bytes) ==
        ERROR_SUCCESS) {
      std::string data(bytes, '\0');
      ::RegQueryValueExW(key.Get(), name, nullptr, &saved.type, reinterpret_cast<BYTE*>(data.data()),
                         &bytes);
      data.resize(bytes);
      saved.data = data;
    }
    saved_.push_back(saved);
  }

  static void Write(const wchar_t* path, const wchar_t* name, DWORD type, const std::string& data) {
    ScopedRegKey key = Open(path);
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.Get(), name, 0, type,
                                              reinterpret_cast<const BYTE*>(data.data()),
                                              static_cast<DWORD>(data.size())));
  }

  static void WriteText(const wchar_t* path, const wchar_t* name, const std::string& text) {
    std::wstring wide = Utf8ToWide(text);
    Write(path, name, REG_SZ,
          std::string(reinterpret_cast<const char*>(wide.c_str()), (wide.size() + 1) * 2));
  }

  std::vector<Saved> saved_;
};

std::string ViaProxyHost(const std::string& path) {
  return "https://" + Servers().proxyHost + ":" + std::to_string(Servers().https) + path;
}

TEST_F(HttpRequestTest, TestHostIsUnknownWithoutTheProxy) {
  std::string path = UniquePath("/xml");
  EXPECT_FALSE(HttpGet(ViaProxyHost(path), L"").ok);
  EXPECT_EQ(0u, Recorded(path).size());
}

struct ProxyCase {
  const char* name;
  bool longLists;
};

class NamedProxyTest : public HttpRequestTest, public ::testing::WithParamInterface<ProxyCase> {
 protected:
  static std::string ProxyAddress() { return "127.0.0.1:" + std::to_string(Servers().proxy); }

  // Longer than 259 characters. Cut to 259, the bypass list would end in an
  // entry naming the test host itself (and so skip the proxy); whole, its
  // entry names another host.
  static std::string LongBypass() {
    const std::string host = Servers().proxyHost;
    std::string list = "<local>;" + std::string(259 - host.size() - 9, 'x') + ";";
    list += host + ".other";
    for (int i = 0; i < 60; ++i) list += ";bypass" + std::to_string(i) + ".example";
    return list;
  }
  static std::string LongProxyList() {
    std::string list = ProxyAddress();
    for (int i = 0; i < 40; ++i) list += ";127.0.0.1:" + std::to_string(1 + i);
    return list;
  }
};

TEST_P(NamedProxyTest, NextAttemptGoesThroughTheProxy) {
  const bool longLists = GetParam().longLists;
  std::string proxy = longLists ? LongProxyList() : ProxyAddress();
  std::string bypass = longLists ? LongBypass() : "";
  if (longLists) {
    ASSERT_GT(proxy.size(), 259u);
    ASSERT_GT(bypass.size(), 259u);
    ASSERT_EQ(Servers().proxyHost, bypass.substr(259 - Servers().proxyHost.size(), Servers().proxyHost.size()));
  }
  InternetSettingsOverride settings(InternetSettingsOverride::kDirect |
                                        InternetSettingsOverride::kNamedProxy,
                                    proxy, bypass, "");

  std::string getPath = UniquePath("/xml");
  HttpResult got = HttpGet(ViaProxyHost(getPath), L"");
  EXPECT_TRUE(IsHttpResultGood(got));
  nlohmann::json gets = Recorded(getPath);
  ASSERT_EQ(1u, gets.size());
  EXPECT_EQ(std::vector<std::string>{Servers().proxyHost + ":" + std::to_string(Servers().https)},
            HeaderValues(gets[0], "Host"));

  // The route through the proxy is a new request: it carries the headers too.
  std::string postPath = UniquePath("/echo");
  HttpResult posted = HttpPost(ViaProxyHost(postPath), "x=1", "text/plain");
  EXPECT_TRUE(IsHttpResultGood(posted));
  nlohmann::json posts = Recorded(postPath);
  ASSERT_EQ(1u, posts.size());
  EXPECT_EQ(std::vector<std::string>{"3"}, HeaderValues(posts[0], "Content-Length"));
  EXPECT_EQ(std::vector<std::string>{"text/plain"}, HeaderValues(posts[0], "Content-Type"));
  EXPECT_EQ(Hex("x=1"), posts[0]["bodyHex"]);
}

INSTANTIATE_TEST_SUITE_P(Lists, NamedProxyTest,
                         ::testing::Values(ProxyCase{"Short", false}, ProxyCase{"Long", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HttpRequestTest, ConfigurationScriptSendsThroughItsProxyAtOnce) {
  std::string script = Http("/pac/" + std::to_string(Servers().proxy));
  InternetSettingsOverride settings(InternetSettingsOverride::kDirect |
                                        InternetSettingsOverride::kScript,
                                    "", "", script);
  std::string path = UniquePath("/xml");
  EXPECT_TRUE(IsHttpResultGood(HttpGet(ViaProxyHost(path), L"")));
  EXPECT_EQ(1u, Recorded(path).size());
}

}  // namespace
