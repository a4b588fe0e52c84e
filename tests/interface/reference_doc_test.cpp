// The user reference stays true to the component: it documents every member of the type library
// the module serves (with each of its parameters in the member's own section), no member that
// does not exist, and every code of the error table with its text exactly as Done reports it.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "error_table.h"
#include "kx/platform/bstr.h"
#include "quantorb_typelib.h"

namespace kx::component {
namespace {

using kx::platform::Utf16ToUtf8;

std::string ReadReference() {
  std::ifstream in(KX_REFERENCE_DOC);
  EXPECT_TRUE(in) << "cannot read " << KX_REFERENCE_DOC;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sections by heading: the text of a heading line maps to the lines below it, up to the next one.
std::map<std::string, std::string> Sections(const std::string& doc) {
  std::map<std::string, std::string> sections;
  std::istringstream lines(doc);
  std::string line, heading;
  bool fenced = false;
  while (std::getline(lines, line)) {
    if (line.starts_with("```")) fenced = !fenced;
    if (!fenced && line.starts_with("#")) {
      const std::size_t start = line.find_first_not_of("# ");
      heading = start == std::string::npos ? std::string() : line.substr(start);
      sections[heading];
      continue;
    }
    sections[heading] += line + "\n";
  }
  return sections;
}

struct Documented {
  bool property = false;
  std::vector<std::string> params;  // declared order; a property's get and put one after another
};

// Every function of IKvQuantorb and of the event interface, by name.
std::map<std::string, Documented> DescribedMembers() {
  std::map<std::string, Documented> members;
  std::string diagnostic;
  const KorvaneTypeLibrary* lib = LoadKorvaneTypeLibrary(&diagnostic);
  EXPECT_NE(lib, nullptr) << diagnostic;
  if (!lib) return members;
  for (const auto* described : {lib->quantorb, lib->events}) {
    EXPECT_NE(described, nullptr);
    if (!described) continue;
    for (const auto& m : described->members) {
      Documented& d = members[Utf16ToUtf8(m.name)];
      d.property = m.kind != kx::platform::INVOKE_FUNC;
      for (const auto& p : m.params) d.params.push_back(Utf16ToUtf8(p.name));
    }
  }
  return members;
}

// The argument names of a section's table rows "| 3 | `Name` | ...", in the order they stand.
std::vector<std::string> NumberedRows(const std::string& section) {
  static const std::regex row(R"(\n\| \d+ \| `([A-Za-z_][A-Za-z0-9_]*)` \|)");
  std::vector<std::string> names;
  for (std::sregex_iterator it(section.begin(), section.end(), row), end; it != end; ++it) {
    names.push_back((*it)[1].str());
  }
  return names;
}

TEST(ReferenceDoc, DocumentsEveryMemberWithItsArgumentsInOrder) {
  const auto sections = Sections(ReadReference());
  const auto members = DescribedMembers();
  ASSERT_EQ(members.size(), 41u) << "38 methods, two properties and the Done event";
  for (const auto& [name, declared] : members) {
    SCOPED_TRACE(name);
    const auto section = sections.find("`" + name + "`");
    ASSERT_NE(section, sections.end()) << "no heading `" << name << "`";
    if (declared.property) {
      for (const std::string& param : declared.params) {
        EXPECT_NE(section->second.find("| `" + param + "` |"), std::string::npos)
            << "no row for " << param;
      }
    } else {
      EXPECT_EQ(NumberedRows(section->second), declared.params);
    }
  }
  // Member headings name members that exist.
  const std::regex member_heading("^`([A-Za-z_][A-Za-z0-9_]*)`$");
  for (const auto& [heading, body] : sections) {
    std::smatch match;
    if (std::regex_match(heading, match, member_heading)) {
      EXPECT_TRUE(members.contains(match[1].str())) << "documented but not a member: " << heading;
    }
  }
}

TEST(ReferenceDoc, DocumentsEveryErrorCodeWithItsText) {
  const auto sections = Sections(ReadReference());
  const auto errors = sections.find("Errors");
  ASSERT_NE(errors, sections.end()) << "no Errors section";
  const std::string& table = errors->second;
  EXPECT_NE(table.find("| 0 | \"" + Utf16ToUtf8(kNoErrorText) + "\" |"), std::string::npos);
  for (int i = 0; i <= static_cast<int>(Failure::kInvalidArguments); ++i) {
    const FailureText& entry = TextOf(static_cast<Failure>(i));
    SCOPED_TRACE(entry.code);
    const std::string row = "\n| " + std::to_string(entry.code) + " | ";
    EXPECT_NE(table.find(row), std::string::npos) << "no row for code " << entry.code;
    // The text users see in Done, quoted exactly (3047's two entries share theirs).
    const std::string text = Utf16ToUtf8(entry.error_string);
    std::string quoted = "\"";
    quoted.append(text).append("\"");
    EXPECT_NE(table.find(quoted), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace kx::component
