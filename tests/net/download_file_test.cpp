#include "net/download_file.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <winhttp.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "base/scoped_handle.h"
#include "base/text_convert.h"
#include "support/fixture_server_client.h"
#include "support/test_paths.h"

namespace {

std::wstring Url(const char* scheme, int port, const std::string& path) {
  return Utf8ToWide(std::string(scheme) + "://127.0.0.1:" + std::to_string(port) + path);
}

// Deterministic bytes that differ from one size to the next.
std::string PackageBytes(size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

class DownloadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(0, FixtureServerPorts().http) << "no fixture server: run the tests through ctest, whose fixture "
                                  "wex_dl_server_start writes C:\\wex\\testkit\\dl\\ports.json";
  }

  void TearDown() override {
    for (const std::wstring& file : published_) ::DeleteFileW(file.c_str());
  }

  // Puts `bytes` into the server's package folder under a name no other test
  // or run shares, so the server's record of it belongs to this test alone.
  // Returns its URL path.
  std::string Publish(const std::string& bytes) { return Publish(bytes, UniquePath()); }
  std::string Publish(const std::string& bytes, const std::string& path) {
    std::wstring folder = std::wstring(kFixtureStateDir) + L"files\\pkg";
    ::CreateDirectoryW((std::wstring(kFixtureStateDir) + L"files").c_str(), nullptr);
    ::CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring file = folder + L"\\" + Utf8ToWide(path.substr(path.rfind('/') + 1));
    WriteFileBytes(file, bytes);
    published_.push_back(file);
    return path;
  }
  static std::string UniquePath() {
    static int counter = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    return "/pkg/" + name + "-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(counter++) + ".bin";
  }

  // `fault` is a JSON object of tools/testkit/fixture_server.py.
  static void SetFault(const std::string& path, const std::string& fault) {
    nlohmann::json change = {{path, nlohmann::json::parse(fault)}};
    FixtureControl(L"POST", "/control/faults", change.dump());
  }
  static nlohmann::json Requests(const std::string& path) {
    nlohmann::json list = nlohmann::json::parse(FixtureControl(L"GET", "/control/requests?path=" + path), nullptr, false);
    return list.is_array() ? list : nlohmann::json::array();
  }

  ScratchFolder scratch_;
  std::vector<std::wstring> published_;
};

std::vector<std::string> HeaderValues(const nlohmann::json& request, const std::string& name) {
  std::vector<std::string> values;
  for (const auto& header : request["headers"]) {
    if (_stricmp(header[0].get<std::string>().c_str(), name.c_str()) == 0) {
      values.push_back(header[1].get<std::string>());
    }
  }
  return values;
}

// ---- The URL and the length header, without a server ----

struct SplitCase {
  const wchar_t* url;
  bool matches;
  // The parts of a matching URL.
  bool secure = false;
  const wchar_t* host = L"";
  int port = 0;
  const wchar_t* path = L"";
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << WideToUtf8(c.url); }

class SplitDownloadUrlTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitDownloadUrlTest, SplitsSchemeHostPortAndPath) {
  const SplitCase& c = GetParam();
  std::optional<DownloadUrl> parts = SplitDownloadUrl(c.url);
  ASSERT_EQ(c.matches, parts.has_value());
  if (!parts) return;
  EXPECT_EQ(c.secure, parts->secure);
  EXPECT_EQ(std::wstring(c.host), parts->host);
  EXPECT_EQ(c.port, parts->port);
  EXPECT_EQ(std::wstring(c.path), parts->path);
}

INSTANTIATE_TEST_SUITE_P(
    Urls, SplitDownloadUrlTest,
    ::testing::Values(
        SplitCase{L"http://cdn.example/a/b.exe?x=1&y=/2", true, false, L"cdn.example", 80, L"/a/b.exe?x=1&y=/2"},
        SplitCase{L"https://cdn.example/b.exe", true, true, L"cdn.example", 443, L"/b.exe"},
        SplitCase{L"ftp://cdn.example/b.exe", true, false, L"cdn.example", 80, L"/b.exe"},
        SplitCase{L"https://cdn.example:8443/", true, true, L"cdn.example", 8443, L"/"},
        SplitCase{L"http://cdn.example:/b", true, false, L"cdn.example", 80, L"/b"},
        SplitCase{L"http://[::1]:8080/b", true, false, L"[::1]", 8080, L"/b"},
        SplitCase{L"https://[::1]/b", true, true, L"[::1]", 443, L"/b"},
        // Capital schemes, no path, no host, unknown scheme, unusable ports.
        SplitCase{L"HTTP://cdn.example/b", false}, SplitCase{L"Https://cdn.example/b", false},
        SplitCase{L"http://cdn.example", false}, SplitCase{L"http:///b", false},
        SplitCase{L"http://:80/b", false}, SplitCase{L"gopher://cdn.example/b", false},
        SplitCase{L" http://cdn.example/b", false}, SplitCase{L"http://cdn.example:0/b", false},
        SplitCase{L"http://cdn.example:65536/b", false}, SplitCase{L"http://cdn.example:8o/b", false}));

TEST(ParseContentLengthTest, ReadsSixtyFourBitDecimalsOnly) {
  EXPECT_EQ(1000u, ParseContentLength(L"1000"));
  EXPECT_EQ(0u, ParseContentLength(L"0"));
  EXPECT_EQ(5000000000u, ParseContentLength(L"5000000000"));
  EXPECT_EQ(UINT64_MAX, ParseContentLength(L"18446744073709551615"));
  EXPECT_EQ(42u, ParseContentLength(L" 42\t"));
  for (const wchar_t* text : {L"", L"  ", L"abc", L"-1", L"+1", L"12abc", L"1 2", L"0x10",
                              L"18446744073709551616", L"99999999999999999999"}) {
    EXPECT_FALSE(ParseContentLength(text).has_value()) << WideToUtf8(text);
  }
}

// ---- Downloads that succeed ----

struct SuccessCase {
  const char* name;
  size_t size;
  const char* fault;  // the package's fault switches; "" for none
  int lastPercent;    // -1: no progress without a length
  const char* scheme = "http";
};

void PrintTo(const SuccessCase& c, std::ostream* os) { *os << c.name; }

class DownloadSuccessTest : public DownloadFileTest, public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(DownloadSuccessTest, WritesTheWholeBodyAfterOneHeadAndOneGet) {
  const SuccessCase& c = GetParam();
  std::string package = PackageBytes(c.size);
  std::string path = Publish(package);
  if (*c.fault) SetFault(path, c.fault);
  std::vector<int> percents;
  std::wstring local = scratch_.File(L"package.bin");

  DownloadResult result = DownloadFile(Url(c.scheme, FixtureServerPorts().http, path), local,
                                       [&](int percent, int unused) {
                                         EXPECT_EQ(0, unused);
                                         percents.push_back(percent);
                                       },
                                       L"");

  EXPECT_TRUE(result.ok);
  EXPECT_EQ(0, result.errorType);
  EXPECT_EQ(0, result.errorCode);
  std::string written = ReadFileBytes(local);
  EXPECT_EQ(package.size(), written.size());
  EXPECT_TRUE(written == package) << "the file differs from the package";
  if (c.lastPercent < 0) {
    EXPECT_TRUE(percents.empty());
  } else {
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(c.lastPercent, percents.back());
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  }
  nlohmann::json requests = Requests(path);
  ASSERT_EQ(2u, requests.size());
  EXPECT_EQ("HEAD", requests[0]["method"]);
  EXPECT_EQ("GET", requests[1]["method"]);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadSuccessTest,
    ::testing::Values(
        SuccessCase{"LengthOnHead", 3 * 1024 * 1024 + 17, "", 100},
        // Without a length on HEAD the GET answer's length is the base.
        SuccessCase{"NoLengthOnHead", 300000, R"({"headLength": null})", 100},
        SuccessCase{"NonNumericLengthOnHead", 300000, R"({"headLength": "12abc"})", 100},
        // No length at all: read until the server closes.
        SuccessCase{"NoLengthAnywhere", 1024 * 1024, R"({"headLength": null, "getLength": null})", -1},
        SuccessCase{"Chunked", 1024 * 1024, R"({"chunked": true})", -1},
        SuccessCase{"Empty", 0, "", -1},
        // ftp URLs are fetched as plain HTTP.
        SuccessCase{"FtpScheme", 1000, "", 100, "ftp"}),
    [](const ::testing::TestParamInfo<SuccessCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadFileTest, ProgressFollowsTheChunksAsTheyArrive) {
  std::string path = Publish(PackageBytes(1000));
  SetFault(path, R"({"chunkSize": 600, "chunkDelay": 0.5})");
  std::vector<int> percents;
  DownloadResult result = DownloadFile(Url("http", FixtureServerPorts().http, path), scratch_.File(L"p.bin"),
                                       [&](int percent, int) { percents.push_back(percent); }, L"");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ((std::vector<int>{60, 100}), percents);
}

TEST_F(DownloadFileTest, AnExistingFileIsReplaced) {
  std::string package = PackageBytes(1000);
  std::string path = Publish(package);
  std::wstring local = scratch_.File(L"old.bin");
  WriteFileBytes(local, std::string(5000, 'x'));
  ASSERT_TRUE(DownloadFile(Url("http", FixtureServerPorts().http, path), local, nullptr, L"").ok);
  EXPECT_TRUE(ReadFileBytes(local) == package);
}

TEST_F(DownloadFileTest, AnErrorPageIsWrittenLikeAnyBody) {
  std::string path = UniquePath();  // never published: the server answers 404
  std::wstring local = scratch_.File(L"page.bin");
  DownloadResult result = DownloadFile(Url("http", FixtureServerPorts().http, path), local, nullptr, L"");
  EXPECT_TRUE(result.ok);
  std::string page = ReadFileBytes(local);
  EXPECT_NE(std::string::npos, page.find("<h1>404</h1>")) << page;
}

TEST_F(DownloadFileTest, SendsTheUserAgentAndAsksPastCaches) {
  std::string path = Publish(PackageBytes(100));
  ASSERT_TRUE(DownloadFile(Url("http", FixtureServerPorts().http, path), scratch_.File(L"a.bin"), nullptr, L"").ok);
  ASSERT_TRUE(DownloadFile(Url("http", FixtureServerPorts().http, path), scratch_.File(L"b.bin"), nullptr, L"Agent/2").ok);
  nlohmann::json requests = Requests(path);
  ASSERT_EQ(4u, requests.size());
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(std::vector<std::string>{i < 2 ? "WexDownloader/1.0" : "Agent/2"},
              HeaderValues(requests[i], "User-Agent"));
    EXPECT_EQ(std::vector<std::string>{"no-cache"}, HeaderValues(requests[i], "Pragma"));
  }
}

// ---- Downloads that fail ----

struct FailureCase {
  const char* name;
  const char* fault;  // applied to the case's own package of 1 MiB
  std::vector<int> errorTypes;  // any of these; the platform decides between them
  DWORD errorCode;              // 0: any system code
  size_t sent;                  // body bytes the server sends
  bool allKept;                 // false: an abortive close may lose some
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class DownloadFailureTest : public DownloadFileTest, public ::testing::WithParamInterface<FailureCase> {};

// An incomplete body is never a success, and what was written is the part
// that arrived.
TEST_P(DownloadFailureTest, AnIncompleteBodyFailsAndKeepsWhatArrived) {
  const FailureCase& c = GetParam();
  std::string package = PackageBytes(1024 * 1024);
  std::string path = Publish(package);
  SetFault(path, c.fault);
  std::wstring local = scratch_.File(L"part.bin");

  DownloadResult result = DownloadFile(Url("http", FixtureServerPorts().http, path), local, nullptr, L"");

  EXPECT_FALSE(result.ok);
  EXPECT_NE(c.errorTypes.end(), std::find(c.errorTypes.begin(), c.errorTypes.end(), result.errorType))
      << "errorType " << result.errorType;
  if (c.errorCode != 0) {
    EXPECT_EQ(c.errorCode, static_cast<DWORD>(result.errorCode));
  } else {
    EXPECT_NE(0, result.errorCode);
  }
  std::string written = ReadFileBytes(local);
  if (c.allKept) {
    EXPECT_EQ(c.sent, written.size());
  } else {
    EXPECT_LE(written.size(), c.sent);
  }
  EXPECT_TRUE(package.compare(0, written.size(), written) == 0) << "the partial file is not a prefix";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadFailureTest,
    ::testing::Values(
        FailureCase{"ClosedMidBody", R"({"dropAfter": 300000})", {11, 12}, 0, 300000, true},
        // A reset throws away whatever the client had not read yet, the
        // answer's headers included when it comes quickly enough.
        FailureCase{"ResetMidBody", R"({"dropAfter": 300000, "reset": true})", {9, 11, 12}, 0, 300000, false},
        // The whole body arrives, but less than announced.
        FailureCase{"HeadLengthBeyondTheBody", R"({"headLength": 2000000})", {11}, ERROR_HANDLE_EOF,
                    1024 * 1024, true},
        // Known only from the GET answer, which announces more than it sends.
        FailureCase{"ShortBodyNoHeadLength", R"({"headLength": null, "getLength": 2000000})", {11},
                    ERROR_HANDLE_EOF, 1024 * 1024, true},
        // 2^32 + 500: a 32-bit reading would see 500 bytes and call the file complete.
        FailureCase{"LengthBeyondFourGiB", R"({"headLength": "4294967796"})", {11}, ERROR_HANDLE_EOF,
                    1024 * 1024, true}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

struct SetupFailureCase {
  const char* name;
  std::wstring (*url)(const std::string& path);
  std::vector<int> errorTypes;
};

void PrintTo(const SetupFailureCase& c, std::ostream* os) { *os << c.name; }

class DownloadSetupFailureTest : public DownloadFileTest,
                                 public ::testing::WithParamInterface<SetupFailureCase> {};

TEST_P(DownloadSetupFailureTest, FailsBeforeTheFileIsCreated) {
  const SetupFailureCase& c = GetParam();
  std::string path = Publish(PackageBytes(1000));
  std::wstring local = scratch_.File(L"never.bin");
  DownloadResult result = DownloadFile(c.url(path), local, nullptr, L"");
  EXPECT_FALSE(result.ok);
  EXPECT_NE(c.errorTypes.end(), std::find(c.errorTypes.begin(), c.errorTypes.end(), result.errorType))
      << "errorType " << result.errorType << " errorCode " << result.errorCode;
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(local.c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DownloadSetupFailureTest,
    ::testing::Values(
        SetupFailureCase{"CapitalScheme",
                         [](const std::string& path) { return Url("HTTP", FixtureServerPorts().http, path); }, {4}},
        SetupFailureCase{"NoPath",
                         [](const std::string&) { return Url("http", FixtureServerPorts().http, ""); }, {4}},
        // The name is resolved when the request is sent.
        SetupFailureCase{"UnresolvableHost",
                         [](const std::string& path) { return Utf8ToWide("http://wex-nowhere.invalid" + path); },
                         {6, 8}},
        SetupFailureCase{"RefusedPort",
                         [](const std::string& path) { return Url("http", FixtureServerPorts().closed, path); }, {8}},
        // The platform's checks stay: the kit's self-signed certificate is refused.
        SetupFailureCase{"UntrustedCertificate",
                         [](const std::string& path) { return Url("https", FixtureServerPorts().https, path); }, {8}}),
    [](const ::testing::TestParamInfo<SetupFailureCase>& info) { return std::string(info.param.name); });

TEST_F(DownloadFileTest, AnUnwritableLocalPathIsErrorEighteen) {
  std::string path = Publish(PackageBytes(1000));
  DownloadResult result =
      DownloadFile(Url("http", FixtureServerPorts().http, path), scratch_.File(L"missing\\p.bin"), nullptr, L"");
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(18, result.errorType);
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, result.errorCode);
}

// ---- Cancellation ----

TEST_F(DownloadFileTest, ACancelledDownloadStopsBeforeItsNextChunk) {
  std::string package = PackageBytes(20000);
  std::string path = Publish(package);
  SetFault(path, R"({"chunkSize": 1000, "chunkDelay": 0.1})");
  std::atomic<bool> cancel{false};
  int calls = 0;
  std::wstring local = scratch_.File(L"c.bin");

  DownloadResult result = DownloadFile(Url("http", FixtureServerPorts().http, path), local,
                                       [&](int, int) {
                                         ++calls;
                                         cancel = true;
                                       },
                                       L"", &cancel);

  EXPECT_FALSE(result.ok);
  EXPECT_EQ(kDownloadCancelled, result.errorType);
  EXPECT_EQ(ERROR_CANCELLED, result.errorCode);
  EXPECT_EQ(1, calls);
  std::string written = ReadFileBytes(local);
  EXPECT_GT(written.size(), 0u);
  EXPECT_LT(written.size(), package.size());
  EXPECT_TRUE(package.compare(0, written.size(), written) == 0);
}

TEST_F(DownloadFileTest, AnAlreadyCancelledDownloadSendsNothing) {
  std::string path = Publish(PackageBytes(1000));
  std::atomic<bool> cancel{true};
  DownloadResult result = DownloadFile(Url("http", FixtureServerPorts().http, path), scratch_.File(L"c.bin"), nullptr, L"", &cancel);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(kDownloadCancelled, result.errorType);
  EXPECT_EQ(0u, Requests(path).size());
}

}  // namespace
