// The command-line automation client in batch mode, run as a separate program on the registered
// module: one JSON call per line in, one JSON result per line out, all on one object.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "kx/platform/bstr.h"
#include "kx/platform/typeinfo.h"
#include "object_test_support.h"

extern char** environ;

namespace kx::component::object_test {
namespace {

using json = nlohmann::json;

struct ClientRun {
  int status = -1;
  std::vector<std::string> lines;  // standard output
  std::string errors;              // standard error
};

// Runs kxauto with `args`, feeding `input` on standard input, in this process's environment
// with `environment` ("NAME=value"; "NAME" alone removes it) applied on top.
ClientRun RunClient(const std::string& dir, const std::vector<std::string>& args,
                    const std::string& input, const std::vector<std::string>& environment = {}) {
  const std::string in_path = dir + "/in.txt", out_path = dir + "/out.txt",
                    err_path = dir + "/err.txt";
  std::ofstream(in_path) << input;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in_path.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<std::string> words = {KX_KXAUTO_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_words;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    const bool replaced = std::any_of(environment.begin(), environment.end(), [&](auto& change) {
      return change.substr(0, change.find('=')) == name;
    });
    if (!replaced) env_words.push_back(entry);
  }
  for (const std::string& change : environment) {
    if (change.find('=') != std::string::npos) env_words.push_back(change);
  }
  std::vector<char*> envp;
  for (std::string& w : env_words) envp.push_back(w.data());
  envp.push_back(nullptr);
  ClientRun run;
  pid_t pid = 0;
  if (posix_spawn(&pid, KX_KXAUTO_PATH, &actions, nullptr, argv.data(), envp.data()) != 0) {
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
  std::ostringstream errors;
  errors << std::ifstream(err_path).rdbuf();
  run.errors = errors.str();
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

TEST_F(Kxauto, RefusesNestingDeeperThanAnyCallNeeds) {
  // 64 dimensions still reach the member; deeper lists, and arrays nested in array objects
  // without end, are refused as requests instead of exhausting the client's stack.
  auto nested = [](int depth) { return std::string(depth, '[') + "1" + std::string(depth, ']'); };
  std::string objects;
  for (int i = 0; i < 100000; ++i) objects += R"({"values":[)";
  objects += "1";
  for (int i = 0; i < 100000; ++i) objects += "]}";
  const std::string input =
      R"({"member":"HistoricalVolatility","args":[)" + nested(64) + ",252]}\n" +
      R"({"member":"HistoricalVolatility","args":[)" + nested(65) + ",252]}\n" +
      R"({"member":"HistoricalVolatility","args":[)" + nested(100000) + ",252]}\n" +
      R"({"member":"HistoricalVolatility","args":[)" + objects + ",252]}\n";
  const ClientRun run = RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb"}, input);
  EXPECT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(Parse(run.lines[0])["events"][0]["ErrorCode"], 3022) << "64-D reaches the member";
  for (std::size_t i = 1; i < 4; ++i) {
    const json refused = Parse(run.lines[i]);
    EXPECT_EQ(refused["line"], i + 1);
    EXPECT_TRUE(refused.contains("request_error")) << run.lines[i].substr(0, 200);
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

// What the object's own type information says of each function, read here without the client.
struct DeclaredFunction {
  std::string name, doc;
  DISPID dispid = 0;
  kx::platform::INVOKEKIND kind = kx::platform::INVOKE_FUNC;
  std::vector<std::string> params;
  std::vector<kx::platform::USHORT> flags;
};

std::vector<DeclaredFunction> ReadTypeInfo(kx::platform::IDispatch* object) {
  using namespace kx::platform;
  std::vector<DeclaredFunction> functions;
  ComPtr<ITypeInfo> info;
  EXPECT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  if (!info) return functions;
  TYPEATTR* attr = nullptr;
  EXPECT_EQ(info->GetTypeAttr(&attr), S_OK);
  const UINT count = attr->cFuncs;
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* f = nullptr;
    EXPECT_EQ(info->GetFuncDesc(i, &f), S_OK);
    DeclaredFunction d;
    d.dispid = f->memid;
    d.kind = f->invkind;
    std::vector<BSTR> names(f->cParams + 1, nullptr);
    UINT got = 0;
    EXPECT_EQ(info->GetNames(f->memid, names.data(), static_cast<UINT>(names.size()), &got), S_OK);
    d.name = BstrToUtf8(names[0]);
    for (SHORT p = 0; p < f->cParams; ++p) {
      d.params.push_back(static_cast<UINT>(p) + 1 < got ? BstrToUtf8(names[p + 1]) : "");
      d.flags.push_back(f->lprgelemdescParam[p].paramdesc.wParamFlags);
    }
    for (BSTR b : names) SysFreeString(b);
    BSTR doc = nullptr;
    (void)info->GetDocumentation(f->memid, nullptr, &doc, nullptr, nullptr);
    d.doc = doc ? BstrToUtf8(doc) : "";
    SysFreeString(doc);
    info->ReleaseFuncDesc(f);
    functions.push_back(std::move(d));
  }
  return functions;
}

TEST_F(Kxauto, ListShowsEveryMemberOfTheTypeLibrary) {
  using namespace kx::platform;
  const std::vector<DeclaredFunction> declared = ReadTypeInfo(Create().get());
  ASSERT_EQ(declared.size(), 42u) << "IKvQuantorb: 38 methods, Base and BlockingMode get and put";

  const ClientRun run = RunClient(registry_.dir(), {"--json", "--list", "Korvane.Quantorb"}, "");
  EXPECT_EQ(run.status, 0) << run.errors;
  ASSERT_EQ(run.lines.size(), 1u);
  const json listed = Parse(run.lines[0]);
  ASSERT_EQ(listed.size(), declared.size() + 1) << "the members and the Done event";
  for (std::size_t i = 0; i < declared.size(); ++i) {
    const DeclaredFunction& d = declared[i];
    const json& m = listed[i];
    SCOPED_TRACE(d.name);
    EXPECT_EQ(m["name"], d.name);
    EXPECT_EQ(m["dispid"], d.dispid);
    EXPECT_EQ(m["doc"], d.doc);
    EXPECT_EQ(m["kind"], d.kind == INVOKE_PROPERTYGET   ? "property get"
                         : d.kind == INVOKE_PROPERTYPUT ? "property put"
                                                        : "method");
    ASSERT_EQ(m["params"].size(), d.params.size());
    for (std::size_t k = 0; k < d.params.size(); ++k) {
      const json& p = m["params"][k];
      EXPECT_EQ(p["name"], d.params[k]);
      EXPECT_EQ(p["out"].get<bool>(), (d.flags[k] & PARAMFLAG_FOUT) != 0) << d.params[k];
      EXPECT_EQ(p["optional"].get<bool>(), (d.flags[k] & PARAMFLAG_FOPT) != 0) << d.params[k];
      EXPECT_EQ(p["retval"].get<bool>(), (d.flags[k] & PARAMFLAG_FRETVAL) != 0) << d.params[k];
    }
  }
  const json& done = listed.back();
  EXPECT_EQ(done["name"], "Done");
  EXPECT_EQ(done["kind"], "event");
  EXPECT_EQ(done["params"].size(), 3u);

  // Declared types and marks as the member list of the type library writes them.
  struct TypeCase {
    const char* member;
    std::size_t param;
    const char* name;
    const char* type;
    bool in, out, optional;
  } const kTypes[] = {
      {"BSCallPrice", 0, "StockPrice", "double", true, false, false},
      {"BSCallPrice", 6, "CPrice", "double*", false, true, false},
      {"BSImpliedVolatility", 6, "MaxIter", "long", true, false, true},
      {"BSImpliedVolatilitySkew", 1, "ExercisePrice", "VARIANT*", true, true, false},
      {"BinImpliedVolatilitySkew", 13, "IVolatilityPut", "VARIANT*", true, true, true},
      {"BinPriceGreeks", 7, "ForeignInterestRate", "double", true, false, true},
      {"BinPriceGreeks", 17, "DoVega", "long", true, false, false},
      {"HistoricalVolatility", 2, "Volatility", "VARIANT*", false, true, false},
      {"Done", 2, "ErrorString", "BSTR", true, false, false},
  };
  for (const TypeCase& c : kTypes) {
    SCOPED_TRACE(std::string(c.member) + " " + c.name);
    const auto m = std::find_if(listed.begin(), listed.end(),
                                [&](const json& j) { return j["name"] == c.member; });
    ASSERT_NE(m, listed.end());
    ASSERT_GT((*m)["params"].size(), c.param);
    const json& p = (*m)["params"][c.param];
    EXPECT_EQ(p["name"], c.name);
    EXPECT_EQ(p["type"], c.type);
    EXPECT_EQ(p["in"], c.in);
    EXPECT_EQ(p["out"], c.out);
    EXPECT_EQ(p["optional"], c.optional);
  }

  // The text form names every member with its documentation.
  const ClientRun text = RunClient(registry_.dir(), {"--list", "Korvane.Quantorb"}, "");
  EXPECT_EQ(text.status, 0);
  std::string all;
  for (const std::string& line : text.lines) all += line + "\n";
  for (const DeclaredFunction& d : declared) {
    EXPECT_NE(all.find(" " + d.name + "("), std::string::npos) << d.name;
    EXPECT_NE(all.find(d.doc), std::string::npos) << d.name;
  }
  EXPECT_NE(all.find("method BSImpliedVolatility([in] double StockPrice, [in] double "
                     "ExercisePrice, [in] double InterestRate, [in] double TimeToMaturity, [in] "
                     "double DividendRate, [in] double CallValue, [in, optional] long MaxIter, "
                     "[out, retval] double* IVolatility)"),
            std::string::npos)
      << all;
}

TEST_F(Kxauto, DescribeShowsOneMemberInFull) {
  const ClientRun run =
      RunClient(registry_.dir(), {"--describe", "Korvane.Quantorb", "binpricegreeks"}, "");
  EXPECT_EQ(run.status, 0) << run.errors;
  ASSERT_GE(run.lines.size(), 4u + 22u) << "signature, dispid, text, heading, 22 parameters";
  EXPECT_EQ(run.lines[0].rfind("method BinPriceGreeks([in] double StockPrice", 0), 0u);
  EXPECT_EQ(run.lines[1], "  dispid 43");
  EXPECT_EQ(run.lines[2], "  Computes the Binomial put, call and greeks for an option.");
  std::vector<std::string> params(run.lines.begin() + 4, run.lines.begin() + 26);
  EXPECT_NE(params[0].find(" 1  StockPrice "), std::string::npos) << params[0];
  EXPECT_NE(params[7].find("ForeignInterestRate"), std::string::npos) << params[7];
  EXPECT_NE(params[7].find("in, optional"), std::string::npos) << params[7];
  EXPECT_NE(params[21].find("22  PRho"), std::string::npos) << params[21];
  EXPECT_NE(params[21].find("in, out"), std::string::npos) << params[21];

  // A property has a get and a put; an unknown name says where to look.
  const ClientRun base =
      RunClient(registry_.dir(), {"--json", "--describe", "Korvane.Quantorb", "Base"}, "");
  ASSERT_EQ(base.lines.size(), 1u);
  const json both = Parse(base.lines[0]);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0]["kind"], "property get");
  EXPECT_EQ(both[1]["kind"], "property put");

  const ClientRun unknown =
      RunClient(registry_.dir(), {"--describe", "Korvane.Quantorb", "NoSuchMember"}, "");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.errors.find("--list Korvane.Quantorb"), std::string::npos) << unknown.errors;
}

TEST_F(Kxauto, BatchResultsCarryTheirInputLine) {
  const ClientRun run =
      RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb"},
                "\n"
                R"({"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0]})"
                "\n  \t\n"
                R"({"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0)"
                "\n"
                R"({"member": "Base", "put": 1 "x"})"
                "\n\n"
                R"(["not", "an", "object"])"
                "\n"
                R"({"member": "Base"})");  // no newline at the end
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 5u) << "blank lines get no result";
  const long kLines[] = {2, 4, 5, 7, 8};
  for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(Parse(run.lines[i])["line"], kLines[i]) << i;
  EXPECT_EQ(Parse(run.lines[0])["hresult"], 0);
  EXPECT_EQ(Parse(run.lines[4])["retval"], 0) << "the malformed put changed nothing";

  // Where the reader stopped: one past the end of the unfinished line (60 characters), and the
  // closing quote of the stray "x" (columns 29 to 31).
  const json unfinished = Parse(run.lines[1]), stray = Parse(run.lines[2]);
  EXPECT_EQ(unfinished["column"], 61);
  EXPECT_NE(unfinished["request_error"].get<std::string>().find("malformed JSON at column 61"),
            std::string::npos)
      << unfinished;
  EXPECT_EQ(stray["column"], 31);
  EXPECT_NE(stray["request_error"].get<std::string>().find("unexpected string literal"),
            std::string::npos)
      << stray;
  EXPECT_TRUE(Parse(run.lines[3]).contains("request_error")) << "a list is not a call";
  EXPECT_EQ(Parse(run.lines[3]).contains("column"), false) << "it is valid JSON";
}

TEST_F(Kxauto, ErrorStatusOptionReportsFailedCalls) {
  const std::string ok = R"({"member": "BSCallPrice", "args": [100, 100, 0.05, 1, 0.2, 0]})"
                         "\n";
  const std::string refused = R"({"member": "BSCallPrice", "args": [0, 100, 0.05, 1, 0.2, 0]})"
                              "\n";
  struct Case {
    std::vector<std::string> args;
    std::string input;
    int status;
  } const kCases[] = {
      {{"--batch", "Korvane.Quantorb"}, ok + refused, 0},  // the default stays
      {{"--batch", "--error-status", "Korvane.Quantorb"}, ok + refused + ok, 1},
      {{"--batch", "--error-status", "Korvane.Quantorb"}, ok + "\n" + ok, 0},
      {{"--batch", "--error-status", "Korvane.Quantorb"}, ok + "{not json\n", 1},
      {{"--batch", "--error-status", "Korvane.Quantorb"},
       R"({"member": "Nope"})"
       "\n",
       1},
      {{"--error-status", "Korvane.Quantorb", "BSCallPrice", "0", "100", "0.05", "1", "0.2", "0"},
       "",
       1},
      {{"Korvane.Quantorb", "BSCallPrice", "0", "100", "0.05", "1", "0.2", "0"}, "", 1},
      {{"--error-status", "Korvane.Quantorb", "BSCallPrice", "100", "100", "0.05", "1", "0.2", "0"},
       "",
       0},
  };
  for (const Case& c : kCases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace + "<<< " + c.input);
    const ClientRun run = RunClient(registry_.dir(), c.args, c.input);
    EXPECT_EQ(run.status, c.status) << run.errors;
  }
  // Every line is still answered after a failure.
  const ClientRun run =
      RunClient(registry_.dir(), {"--batch", "--error-status", "Korvane.Quantorb"}, refused + ok);
  EXPECT_EQ(run.lines.size(), 2u);
}

TEST_F(Kxauto, ActivationFailuresNameTheRegistryInUse) {
  const std::string file = registry_.dir() + "/registry.kxr";
  const ClientRun one = RunClient(registry_.dir(), {"Not.Registered", "BSCallPrice"}, "");
  EXPECT_EQ(one.status, 3);
  EXPECT_NE(one.errors.find("registry in use: " + file + " (from KX_REGISTRY_DIR)"),
            std::string::npos)
      << one.errors;
  EXPECT_NE(one.errors.find("kxregsvr"), std::string::npos) << one.errors;
  const std::string machine = kx::platform::RegistryFilePath(kx::platform::RegistryScope::kMachine);
  EXPECT_NE(one.errors.find("the machine's: " + machine + " (from KX_MACHINE_REGISTRY_DIR)"),
            std::string::npos)
      << one.errors;

  // A class id that is well formed but not registered fails one step later, with the same advice.
  const ClientRun batch =
      RunClient(registry_.dir(), {"--batch", "{00000000-1111-2222-3333-444444444444}"}, "");
  EXPECT_EQ(batch.status, 3);
  ASSERT_EQ(batch.lines.size(), 1u);
  const json answer = Parse(batch.lines[0]);
  EXPECT_EQ(answer["registry"], file);
  EXPECT_EQ(answer["machine_registry"], machine);
  EXPECT_NE(answer["error"]["description"].get<std::string>().find(file), std::string::npos)
      << answer;

  // Without KX_REGISTRY_DIR: the default under the home folder (a temporary one here).
  const ClientRun fallback =
      RunClient(registry_.dir(), {"--list", "Korvane.Quantorb"}, "",
                {"KX_REGISTRY_DIR", "XDG_CONFIG_HOME", "HOME=" + registry_.dir() + "/home"});
  EXPECT_EQ(fallback.status, 3);
  EXPECT_NE(fallback.errors.find(registry_.dir() +
                                 "/home/.config/kx-platform/registry/registry.kxr (the default"),
            std::string::npos)
      << fallback.errors;
}

TEST_F(Kxauto, TextsForOtherLanguagesGetAHintAndStayAsTheyAre) {
  const ClientRun run =
      RunClient(registry_.dir(), {"--batch", "Korvane.Quantorb"},
                R"({"member": "HistoricalVolatility", "args": [["100", "nan?"], 252]})"
                "\n"
                R"({"member": "BSCallPrice", "args": [0, 100, 0.05, 1, 0.2, 0]})"
                "\n");
  ASSERT_EQ(run.lines.size(), 2u);
  const json foreign = Parse(run.lines[0]);
  EXPECT_EQ(foreign["events"][0]["ErrorCode"], 3047);
  EXPECT_EQ(foreign["error"]["description"].get<std::string>().rfind(
                "Invalid input data type: Do not use an array of Variants. In Visual Basic", 0),
            0u)
      << "the component's text is passed on unchanged";
  ASSERT_TRUE(foreign.contains("hint"));
  EXPECT_NE(foreign["hint"].get<std::string>().find("lists of numbers"), std::string::npos);
  EXPECT_FALSE(Parse(run.lines[1]).contains("hint")) << "6010 speaks of no other language";

  const ClientRun text = RunClient(
      registry_.dir(), {"Korvane.Quantorb", "HistoricalVolatility", R"(["a","b"])", "252"}, "");
  std::string all;
  for (const std::string& line : text.lines) all += line + "\n";
  EXPECT_NE(all.find("  hint: kxauto: from JSON"), std::string::npos) << all;
}

TEST_F(Kxauto, HelpAndVersion) {
  const ClientRun help = RunClient(registry_.dir(), {"--help"}, "");
  EXPECT_EQ(help.status, 0);
  std::string all;
  for (const std::string& line : help.lines) all += line + "\n";
  for (const char* word :
       {"--list", "--describe", "--error-status", "blank lines", "--version", "KX_REGISTRY_DIR"}) {
    EXPECT_NE(all.find(word), std::string::npos) << word;
  }
  const ClientRun version = RunClient(registry_.dir(), {"--version"}, "");
  EXPECT_EQ(version.status, 0);
  ASSERT_EQ(version.lines.size(), 1u);
  EXPECT_EQ(version.lines[0], "kxauto " KX_PROJECT_VERSION);
  EXPECT_EQ(RunClient(registry_.dir(), {"--list"}, "").status, 2);
  EXPECT_EQ(RunClient(registry_.dir(), {"--list", "--batch", "Korvane.Quantorb"}, "").status, 2);
}

TEST_F(Kxauto, MistypedOptionsAreBadUsageNotNames) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;  // in standard error; nullptr: no complaint about options
  } const kCases[] = {
      {{"--lst", "Korvane.Quantorb"}, 2, "unknown option --lst"},
      {{"--batch", "-error-status"}, 2, "unknown option -error-status"},
      {{"Korvane.Quantorb", "--lst"}, 2, "unknown option --lst"},
      {{"--describe", "Korvane.Quantorb", "--jsn"}, 2, "unknown option --jsn"},
      {{"-x", "Korvane.Quantorb", "BSCallPrice"}, 2, "unknown option -x"},
      // Arguments may start with '-': a negative volatility is the component's to refuse.
      {{"Korvane.Quantorb", "BSDelta", "100", "100", "0.05", "1", "-0.2", "0"}, 1, nullptr},
      {{"Korvane.Quantorb", "BSCallPrice", "100", "100", "0.05", "1", "0.2", "-0"}, 0, nullptr},
  };
  for (const Case& c : kCases) {
    std::string trace;
    for (const std::string& a : c.args) trace += a + " ";
    SCOPED_TRACE(trace);
    const ClientRun run = RunClient(registry_.dir(), c.args, "");
    EXPECT_EQ(run.status, c.status) << run.errors;
    if (c.says) {
      EXPECT_NE(run.errors.find(c.says), std::string::npos) << run.errors;
      EXPECT_EQ(run.errors.find("ProgID"), std::string::npos) << "no registry lookup";
    } else {
      EXPECT_EQ(run.errors.find("unknown option"), std::string::npos) << run.errors;
    }
  }
}

}  // namespace
}  // namespace kx::component::object_test
