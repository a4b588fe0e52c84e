// The command-line automation client in batch mode, run as a separate program on the registered
// module: one JSON call per line in, one JSON result per line out, all on one object.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "object_test_support.h"

extern char** environ;

namespace kx::component::object_test {
namespace {

using json = nlohmann::json;

struct ClientRun {
  int status = -1;
  std::vector<std::string> lines;
};

// Runs kxauto with `args`, feeding `input` on standard input.
ClientRun RunClient(const std::string& dir, const std::vector<std::string>& args,
                    const std::string& input) {
  const std::string in_path = dir + "/in.txt", out_path = dir + "/out.txt";
  std::ofstream(in_path) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> words = {KX_KXAUTO_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  ClientRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, KX_KXAUTO_PATH, &actions, nullptr, argv.data(), environ) != 0) {
    ADD_FAILURE() << "cannot start " << KX_KXAUTO_PATH;
    posix_spawn_file_actions_destroy(&actions);
    return run;
  }
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream out(out_path);
  for (std::string line; std::getline(out, line);) run.lines.push_back(line);
  return run;
}

json Parse(const std::string& line) {
  json j = json::parse(line, nullptr, false);
  EXPECT_FALSE(j.is_discarded()) << "not JSON: " << line;
  return j;
}

using Kxauto = RegisteredModuleTest;

TEST_F(Kxauto, BatchAnswersEachLineOnOneObject) {
  const std::string input =
      R"({"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0]})"
      "\n"
      R"({"member": "BSDelta", "args": {"StockPrice": 100, "ExercisePrice": 100, "InterestRate": 0.05, "TimeToMaturity": 1, "Volatility": 0.2, "DividendRate": 0}})"
      "\n"
      "this is not json\n"
      R"({"member": "Base", "put": 1})"
      "\n"
      R"({"member": "Base"})"
      "\n"
      R"({"member": "HistoricalVolatility", "args": {"Prices": [100, 101, 102, 101, 103], "TradingDays": 252}})"
      "\n"
      R"({"member": "HistoricalVolatility", "args": {"Prices": {"lower_bound": 1, "values": [[100, 50], [101, 51], [102, 49], [101, 50]]}, "TradingDays": 252}})"
      "\n"
      R"({"member": "BSCallPrice", "args": [0, 100, 0.05, 1, 0.2, 0]})"
      "\n"
      R"({"member": "NoSuchMember"})"
      "\n"
      R"({"member": "BSCallPrice", "args": {"Strike": 100}})"
      "\n";
  const ClientRun run = RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb"}, input);
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 10u);

  const json call = Parse(run.lines[0]);
  EXPECT_EQ(call["hresult"], 0);
  EXPECT_EQ(call["hresult_name"], "S_OK");
  EXPECT_NEAR(call["retval"].get<double>(), 10.4505756193, 1e-9);
  EXPECT_EQ(call["outputs"]["CPrice"], call["retval"]);
  EXPECT_EQ(
      call["events"],
      json::parse(
          R"([{"event": "Done", "LastMethod": 2, "ErrorCode": 0, "ErrorString": "No Error"}])"));
  EXPECT_TRUE(call["error"].is_null());

  const json delta = Parse(run.lines[1]);
  EXPECT_NEAR(delta["outputs"]["CDelta"].get<double>() - delta["outputs"]["PDelta"].get<double>(),
              1.0, 1e-12);

  const json malformed = Parse(run.lines[2]);
  EXPECT_EQ(malformed["line"], 3);
  EXPECT_TRUE(malformed.contains("request_error"));

  EXPECT_EQ(Parse(run.lines[3])["hresult"], 0);
  EXPECT_EQ(Parse(run.lines[4])["retval"], 1)
      << "the put of the line before held on the same object";

  // Base is 1 now, so an array starting at 0 is refused and one starting at 1 accepted.
  const json bad_bound = Parse(run.lines[5]);
  EXPECT_EQ(bad_bound["hresult_name"], "DISP_E_BADINDEX");
  EXPECT_EQ(bad_bound["events"][0]["ErrorCode"], 6004);
  const json two_series = Parse(run.lines[6]);
  EXPECT_EQ(two_series["hresult"], 0);
  ASSERT_TRUE(two_series["retval"].is_array());
  EXPECT_EQ(two_series["retval"].size(), 2u) << "one volatility per column";

  const json failed = Parse(run.lines[7]);
  EXPECT_EQ(failed["hresult_name"], "E_FAIL");
  EXPECT_EQ(failed["error"]["source"], "Korvane.Quantorb.1");
  EXPECT_EQ(failed["error"]["description"], "Error in BSCallPrice: Invalid input parameter(s).");
  EXPECT_EQ(failed["events"][0]["ErrorCode"], 6010);

  EXPECT_EQ(Parse(run.lines[8])["hresult_name"], "DISP_E_UNKNOWNNAME");
  EXPECT_TRUE(Parse(run.lines[9]).contains("request_error"));
}

TEST_F(Kxauto, NamesTheRequiredArgumentThatIsMissing) {
  // Left out at the end, null in the middle, and by name: the answer names the first required
  // parameter without a value, never one that was given.
  struct Case {
    const char* call;
    const char* argument;
  } const kCases[] = {
      {R"({"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2]})", "DividendRate"},
      {R"({"member": "BSCallPrice", "args": [100, null, 0.05, 1, 0.2, 0]})", "ExercisePrice"},
      {R"({"member": "BSCallPrice", "args": {"StockPrice": 100, "Volatility": 0.2}})",
       "ExercisePrice"},
      {R"({"member": "BinImpliedVolatility", "args": [100, 100, 0.05, 1, 0, 0, null, 100]})",
       "FlagEurAm"},
      {R"({"member": "BSImpliedVolatility", "args": [100, 100, 0.05, 1, 0]})", "CallValue"},
  };
  std::string input;
  for (const Case& c : kCases) input += std::string(c.call) + "\n";
  const ClientRun run = RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb"}, input);
  ASSERT_EQ(run.lines.size(), std::size(kCases));
  for (std::size_t i = 0; i < std::size(kCases); ++i) {
    SCOPED_TRACE(kCases[i].call);
    const json result = Parse(run.lines[i]);
    EXPECT_EQ(result["hresult_name"], "DISP_E_PARAMNOTFOUND");
    EXPECT_EQ(result["argument"], kCases[i].argument);
  }
}

TEST_F(Kxauto, RequiredOutputsGivenAsNullGetStorage) {
  // null and left out mean the same: the in/out result arrays are supplied by the client.
  const ClientRun run = RunClient(
      registry_.dir(), {"--batch", "Korvane.Quantorb"},
      R"({"member":"BSImpliedVolatilitySkew","args":[100,[80,90],0.04,0.75,0.01,[24.1,15.9],[2.49,3.98],50,null,null]})"
      "\n"
      R"({"member":"BSImpliedVolatilitySkew","args":[100,[80,90],0.04,0.75,0.01,[24.1,15.9],[2.49,3.98],50]})"
      "\n");
  ASSERT_EQ(run.lines.size(), 2u);
  const json with_nulls = Parse(run.lines[0]), left_out = Parse(run.lines[1]);
  EXPECT_EQ(with_nulls["hresult_name"], "S_OK") << run.lines[0];
  ASSERT_TRUE(with_nulls["outputs"]["IVolatilityCall"].is_array()) << run.lines[0];
  ASSERT_EQ(with_nulls["outputs"]["IVolatilityCall"].size(), 2u);
  ASSERT_EQ(with_nulls["outputs"]["IVolatilityPut"].size(), 2u);
  // Deep in the money the call value 24.1 at K=80 needs a positive volatility.
  EXPECT_GT(with_nulls["outputs"]["IVolatilityCall"][0].get<double>(), 0.0);
  EXPECT_EQ(with_nulls["outputs"], left_out["outputs"]);
}

TEST_F(Kxauto, NestedListsOfNumbersAreArraysOfDoubles) {
  // Three deep reaches the dimension check (3022), not the element-type check (3047); the
  // in/out array comes back in the shape it went in.
  const std::string cube = "[[[100,101],[102,103]],[[100,99],[98,97]],[[1,2],[3,4]]]";
  const ClientRun run =
      RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb"},
                R"({"member":"HistoricalVolatility","args":[)" + cube + ",252]}\n" +
                    R"({"member":"HistoricalVolatility","args":[[[1,2],[3]],252]})" + "\n" +
                    R"({"member":"HistoricalVolatility","args":[[[[1,2],[3,4]],[[1,2]]],252]})" +
                    "\n" + R"({"member":"HistoricalVolatility","args":[[[1,2],3],252]})" + "\n");
  ASSERT_EQ(run.lines.size(), 4u);
  const json three_d = Parse(run.lines[0]);
  EXPECT_EQ(three_d["events"][0]["ErrorCode"], 3022) << run.lines[0];
  EXPECT_EQ(three_d["hresult_name"], "E_INVALIDARG");
  EXPECT_EQ(three_d["outputs"]["Prices"], json::parse(cube));
  // Ragged lists at any depth are refused before the call.
  for (std::size_t i = 1; i < 4; ++i) {
    SCOPED_TRACE(run.lines[i]);
    EXPECT_TRUE(Parse(run.lines[i]).contains("request_error"));
  }
}

TEST_F(Kxauto, NonFiniteDoublesTravelAsTexts) {
  // An infinite stock price passes validation (inf > 0) and prices to a non-finite value.
  const ClientRun run =
      RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb.1"},
                R"({"member": "BSCallPrice", "args": ["inf", 100, 0.05, 1, 0.2, 0]})"
                "\n");
  ASSERT_EQ(run.lines.size(), 1u);
  const json result = Parse(run.lines[0]);
  ASSERT_TRUE(result["retval"].is_string()) << run.lines[0];
  const std::string text = result["retval"];
  EXPECT_TRUE(text == "inf" || text == "nan") << text;
}

TEST_F(Kxauto, OneCallFromTheCommandLine) {
  const ClientRun run = RunClient(registry_.dir(),
                                  {"--json", "{7C41E2A1-3B95-4D6E-A1F8-62D0B94C5E17}", "BSPutPrice",
                                   "StockPrice=100", "ExercisePrice=100", "InterestRate=0.05",
                                   "TimeToMaturity=1", "Volatility=0.2", "DividendRate=0"},
                                  "");
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 1u);
  EXPECT_NEAR(Parse(run.lines[0])["retval"].get<double>(), 5.5735180694, 1e-9);

  const ClientRun unknown = RunClient(registry_.dir(), {"--batch", "Not.Registered"}, "");
  EXPECT_EQ(unknown.status, 3);
}

}  // namespace
}  // namespace kx::component::object_test
