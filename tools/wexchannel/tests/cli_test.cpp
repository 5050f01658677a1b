#include "cli.h"

#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <sstream>

#include "file_io.h"
#include "synthetic_pe.h"
#include "temp_folder.h"
#include "tool_error.h"

using namespace wexchannel;

namespace {

struct CliRun {
  int exitCode;
  std::string out;
  std::string err;
};

CliRun Cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  int code = RunCli(args, out, err);
  return {code, out.str(), err.str()};
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(Input(), MakeSyntheticPe({.pe32Plus = true, .certificateLengths = {1000}}).bytes);
  }
  std::string Input() const { return Utf8(folder_.File("in.exe")); }
  std::string Output() const { return Utf8(folder_.File("out.exe")); }
  std::string Json(const std::string& name, const std::string& text) const {
    WriteBytes(folder_.File(name), Bytes(text));
    return Utf8(folder_.File(name));
  }

  TempFolder folder_;
};

}  // namespace

TEST_F(CliTest, StampThenInspectShowsBlocksAndTheInstallersView) {
  const std::string first = Json("first.json", "{\n  \"pkgName\": \"com.korvane.arena\",\n  \"supplyid\": 42\n}\n");
  CliRun stamp = Cli({"stamp", Input(), "-o", Output(), "--json", first});
  ASSERT_EQ(stamp.exitCode, kExitOk) << stamp.err;
  EXPECT_EQ(stamp.err, "");
  EXPECT_TRUE(Has(stamp.out, R"({"pkgName":"com.korvane.arena","supplyid":42})")) << stamp.out;

  const std::string chained = Utf8(folder_.File("chained.exe"));
  CliRun again = Cli({"stamp", Output(), "-o", chained, "--set", "pkgName=other", "--set", "buildid=319"});
  ASSERT_EQ(again.exitCode, kExitOk) << again.err;
  EXPECT_TRUE(Has(again.err, "wexchannel: warning: key \"pkgName\" of the new block is shadowed")) << again.err;

  CliRun inspect = Cli({"inspect", chained});
  EXPECT_EQ(inspect.exitCode, kExitOk) << inspect.out;
  EXPECT_TRUE(Has(inspect.out, "PE32+ image")) << inspect.out;
  EXPECT_TRUE(Has(inspect.out, "ends the file; last entry at")) << inspect.out;
  EXPECT_TRUE(Has(inspect.out, "channel blocks, nearest the end of the file first: 2")) << inspect.out;
  const size_t newer = inspect.out.find(R"({"pkgName":"other","buildid":319})");
  const size_t older = inspect.out.find(R"({"pkgName":"com.korvane.arena","supplyid":42})");
  ASSERT_NE(newer, std::string::npos) << inspect.out;
  EXPECT_LT(newer, older) << "listed from the end of the file";
  const std::regex digestOk("digest [0-9A-F]{32} ok");
  EXPECT_EQ(std::distance(std::sregex_iterator(inspect.out.begin(), inspect.out.end(), digestOk),
                          std::sregex_iterator()),
            2)
      << inspect.out;
  EXPECT_TRUE(Has(inspect.out, "  pkgName              \"com.korvane.arena\"      block #2")) << inspect.out;
  EXPECT_TRUE(Has(inspect.out, "  buildid              319                      block #1")) << inspect.out;
  EXPECT_TRUE(Has(inspect.out, "  installMarket        true                     default")) << inspect.out;
}

TEST_F(CliTest, SetGivesEachKeyTheTypeTheInstallerReads) {
  const std::string base = Json("base.json", R"({"supplyid":1,"title":"Arena"})");
  CliRun run = Cli({"stamp", Input(), "-o", Output(), "--json", base, "--set", "supplyid=12", "--set",
                 "pkgName=007", "--set", "installUI=true", "--set", "extra=[1,2]", "--set", "note=plain text"});
  ASSERT_EQ(run.exitCode, kExitOk) << run.err;
  EXPECT_TRUE(Has(run.out, R"({"supplyid":12,"title":"Arena","pkgName":"007","installUI":true,"extra":[1,2],"note":"plain text"})"))
      << run.out;
  EXPECT_TRUE(Has(run.err, "unknown key \"extra\"")) << run.err;
  EXPECT_TRUE(Has(run.err, "unknown key \"note\"")) << run.err;
}

TEST_F(CliTest, RefusedStampWritesNothing) {
  const std::vector<std::uint8_t> input = ReadBytes(folder_.File("in.exe"));
  WriteBytes(folder_.File("notes.txt"), Bytes("just text"));
  const std::string wrongType = Json("wrong.json", R"({"pkgName":"x","supplyid":"200205540"})");
  const std::string array = Json("array.json", R"([{"pkgName":"x"}])");
  const std::string broken = Json("broken.json", R"({"pkgName":)");
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"stamp", Input(), "-o", Output(), "--json", wrongType}, "key \"supplyid\" must be a number, but is string"},
      {{"stamp", Input(), "-o", Output(), "--json", array}, "must be a JSON object, but is array"},
      {{"stamp", Input(), "-o", Output(), "--json", broken}, "is not valid JSON"},
      {{"stamp", Input(), "-o", Output(), "--set", "silentMode=2"}, "key \"silentMode\" must be 0 or 1, but is 2"},
      {{"stamp", Input(), "-o", Output(), "--set", "supplyid=abc"}, "key \"supplyid\" must be a number"},
      {{"stamp", Input(), "-o", Output(), "--set", "installUI=yes"}, "key \"installUI\" must be a boolean"},
      {{"stamp", Utf8(folder_.File("notes.txt")), "-o", Output(), "--set", "pkgName=x"}, "notes.txt: not a PE image"},
      {{"stamp", Utf8(folder_.File("missing.exe")), "-o", Output(), "--set", "pkgName=x"}, "cannot open"},
      {{"stamp", Input(), "-o", Input(), "--set", "pkgName=x", "--force"}, "never in place"},
  };
  const std::set<std::string> before = folder_.Entries();
  for (const Case& c : cases) {
    CliRun run = Cli(c.args);
    EXPECT_EQ(run.exitCode, kExitRefused) << c.message;
    EXPECT_TRUE(Has(run.err, "wexchannel: error: ")) << run.err;
    EXPECT_TRUE(Has(run.err, c.message)) << run.err;
    EXPECT_EQ(folder_.Entries(), before) << "no output and no temporary file after: " << c.message;
  }
  EXPECT_EQ(ReadBytes(folder_.File("in.exe")), input);
}

TEST_F(CliTest, ReplacesAnExistingOutputOnlyWithForce) {
  WriteBytes(folder_.File("out.exe"), Bytes("previous build"));
  CliRun refused = Cli({"stamp", Input(), "-o", Output(), "--set", "pkgName=x"});
  EXPECT_EQ(refused.exitCode, kExitRefused);
  EXPECT_TRUE(Has(refused.err, "exists; pass --force")) << refused.err;
  EXPECT_EQ(ReadBytes(folder_.File("out.exe")), Bytes("previous build"));

  CliRun forced = Cli({"stamp", Input(), "-o", Output(), "--set", "pkgName=x", "--force"});
  EXPECT_EQ(forced.exitCode, kExitOk) << forced.err;
  EXPECT_EQ(Cli({"inspect", Output()}).exitCode, kExitOk);
  EXPECT_EQ(folder_.Entries(), (std::set<std::string>{"in.exe", "out.exe"}));
}

TEST_F(CliTest, FailedRenameLeavesNoTemporaryFile) {
  std::filesystem::create_directories(folder_.File("taken") / "inside");
  const std::set<std::string> before = folder_.Entries();
  EXPECT_THROW(WriteFileAtomically(folder_.File("taken"), Bytes("new content")), ToolError);
  EXPECT_EQ(folder_.Entries(), before);
  EXPECT_TRUE(std::filesystem::is_directory(folder_.File("taken") / "inside"));
}

TEST_F(CliTest, InspectReportsWhatTheInstallerWouldNotRead) {
  ASSERT_EQ(Cli({"stamp", Input(), "-o", Output(), "--set", "pkgName=x"}).exitCode, kExitOk);
  std::vector<uint8_t> image = ReadBytes(folder_.File("out.exe"));
  image[image.size() - 40 - 8] ^= 0x01;  // inside the padded data
  WriteBytes(folder_.File("bad.exe"), image);
  CliRun run = Cli({"inspect", Utf8(folder_.File("bad.exe"))});
  EXPECT_EQ(run.exitCode, kExitProblems);
  EXPECT_TRUE(Has(run.out, "BAD (the data's is")) << run.out;
  EXPECT_TRUE(Has(run.out, "the installer stops here")) << run.out;

  EXPECT_EQ(Cli({"inspect", Utf8(folder_.File("missing.exe"))}).exitCode, kExitRefused);
}

TEST(Cli, UsageAndHelp) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"stamp", "in.exe", "--set", "pkgName=x"}, {"stamp", "in.exe", "-o", "out.exe"},
           {"stamp", "in.exe", "-o", "out.exe", "--set", "noequals"}, {"inspect"}, {"stamp", "in.exe", "--bogus"}}) {
    CliRun run = Cli(args);
    EXPECT_EQ(run.exitCode, kExitUsage) << (args.empty() ? "" : args[0]);
    EXPECT_TRUE(Has(run.err, "usage: wexchannel stamp")) << run.err;
  }
  CliRun help = Cli({"--help"});
  EXPECT_EQ(help.exitCode, kExitOk);
  EXPECT_TRUE(Has(help.out, "strict certificate padding check")) << help.out;
  EXPECT_TRUE(Has(help.out, "unsigned-area alternative")) << help.out;
  EXPECT_EQ(Cli({"stamp", "--help"}).out, help.out);
}
