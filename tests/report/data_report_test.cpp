#include "report/data_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>

#include "base/md5.h"
#include "minilib/worker_pool.h"
#include "support/log_capture.h"

namespace {

const std::string kGuid = "0123456789abcdef0123456789abcdef";

TEST(DataReport, EventPayloadHasExactlyTheRecordKeys) {
  DataReport report(kGuid, "https://127.0.0.1:1/bin/in/clientreport.php");
  report.SetStartupValues(319, 200205540, "src", L"zh_TW");
  nlohmann::json event = report.WithCommonKeys(
      {{"ireserve1", 201}, {"ireserve5", 0}, {"ireserve6", 7}, {"ireserve7", 0}}, 1765400000);
  std::string text = event.dump();
  std::regex expected(
      R"(\{"client_version":319,"guid":"0123456789abcdef0123456789abcdef","icommon0":319,)"
      R"("ireserve1":201,"ireserve5":0,"ireserve6":7,"ireserve7":0,"language":"zh_TW",)"
      R"("strcommon0":"src","supplyid":200205540,"sys_build":\d+,"sys_major":\d+,)"
      R"("sys_minor":\d+,"time_t":1765400000,"type":2\})");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST(DataReport, ClickPayloadCarriesOnlyTheButton) {
  DataReport report(kGuid, "https://127.0.0.1:1/x");
  nlohmann::json click = report.WithCommonKeys({{"ireserve0", 6}}, 0);
  EXPECT_EQ(click["ireserve0"], 6);
  EXPECT_FALSE(click.contains("ireserve1"));
  EXPECT_EQ(click.size(), 12u);
}

TEST(DataReport, SignatureCoversKeyNonceAndGuidOnly) {
  std::string text = std::string("kqz!serverAudit_482%&*~") + "|12345|" + kGuid;
  EXPECT_EQ(DataReport::Sign(12345, kGuid), Md5::HexOf(text.data(), text.size()));
  DataReport report(kGuid, "https://h:8443/bin/in/clientreport.php");
  EXPECT_EQ(report.BuildUrl(12345, R"({"a":1})"),
            "https://h:8443/bin/in/clientreport.php?retflag=json&sign=" +
                DataReport::Sign(12345, kGuid) + R"(&nonce=12345&data={"a":1})");
}

TEST(DataReport, NoncesAreFiveDigitDraws) {
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    int nonce = DataReport::DrawNonce();
    ASSERT_GE(nonce, 10000);
    ASSERT_LE(nonce, 99999);
    seen.insert(nonce);
  }
  EXPECT_GT(seen.size(), 1900u) << "independent draws rarely collide";
}

TEST(DataReport, OsVersionIsReadWithTheBuildsLowHalf) {
  DataReport report(kGuid, "https://127.0.0.1:1/x");
  EXPECT_GT(report.SysMajor(), 0u);
  EXPECT_LE(report.SysBuild(), 0xFFFFu);
}

// A record that cannot be serialised (invalid UTF-8) or sent is logged once
// and never takes the pool thread down.
TEST(DataReport, FailuresAreLoggedAndContained) {
  minilib::WorkerPool pool(1);
  DataReport unserialisable(kGuid, "https://127.0.0.1:1/bin/in/clientreport.php", &pool);
  unserialisable.SetStartupValues(1, 2, "\xFF\xFE", L"en");
  DataReport unreachable(kGuid, "https://127.0.0.1:1/bin/in/clientreport.php", &pool);
  LogCapture capture;
  unserialisable.ReportEvent(100, 0, 0, 0);
  unreachable.ReportClick(0);
  HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  pool.Post(minilib::Callback::From([done] { ::SetEvent(done); }));
  ASSERT_EQ(::WaitForSingleObject(done, 60000), WAIT_OBJECT_0) << "the pool thread survived";
  ::CloseHandle(done);
  auto texts = capture.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "report data error"), 2);
}

}  // namespace
