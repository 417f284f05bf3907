// The udev rule that lets the seat's user read mice, evaluated on the
// properties udev gives a mouse node, a keyboard node and a node that is
// both. The rule file is read as installed; its match keys are evaluated as
// udev does (glob patterns, "|" alternatives), and a key the evaluator does
// not know fails the test rather than being skipped.

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

struct Node {
  std::string action, subsystem, kernel;
  std::map<std::string, std::string> env;
};

struct Term {
  std::string key, op, value;
};

// "KEY{ATTR}OP\"VALUE\"" terms of one rule line, split at the commas between them.
std::vector<Term> termsOf(const std::string& line) {
  std::vector<Term> terms;
  size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == ',')) ++pos;
    if (pos >= line.size()) break;
    const size_t quote = line.find('"', pos);
    const size_t close = line.find('"', quote + 1);
    if (quote == std::string::npos || close == std::string::npos) {
      ADD_FAILURE() << "unreadable term in: " << line;
      return {};
    }
    std::string head = line.substr(pos, quote - pos);
    size_t opAt = head.find_first_of("=!+:");
    Term t{head.substr(0, opAt), head.substr(opAt), line.substr(quote + 1, close - quote - 1)};
    terms.push_back(t);
    pos = close + 1;
  }
  return terms;
}

bool matchesPattern(const std::string& value, const std::string& pattern) {
  size_t from = 0;
  while (true) {
    const size_t bar = pattern.find('|', from);
    const std::string alt = pattern.substr(from, bar == std::string::npos ? bar : bar - from);
    if (fnmatch(alt.c_str(), value.c_str(), 0) == 0) return true;
    if (bar == std::string::npos) return false;
    from = bar + 1;
  }
}

std::string valueOf(const Node& node, const std::string& key) {
  if (key == "ACTION") return node.action;
  if (key == "SUBSYSTEM") return node.subsystem;
  if (key == "KERNEL") return node.kernel;
  if (key.rfind("ENV{", 0) == 0) {
    const auto it = node.env.find(key.substr(4, key.size() - 5));
    return it == node.env.end() ? "" : it->second;
  }
  ADD_FAILURE() << "match key the test does not evaluate: " << key;
  return "";
}

// The tags the rule file adds to the node.
std::vector<std::string> tagsFor(const Node& node) {
  std::ifstream in(QUILLMARK_UDEV_RULE);
  EXPECT_TRUE(in.good()) << QUILLMARK_UDEV_RULE;
  std::vector<std::string> tags;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    bool matches = true;
    std::vector<std::string> added;
    for (const Term& t : termsOf(line)) {
      if (t.op == "==" || t.op == "!=") {
        matches = matches && (matchesPattern(valueOf(node, t.key), t.value) == (t.op == "=="));
      } else if (t.key == "TAG" && t.op == "+=") {
        added.push_back(t.value);
      } else {
        ADD_FAILURE() << "assignment the test does not evaluate: " << t.key << t.op;
      }
    }
    if (matches) tags.insert(tags.end(), added.begin(), added.end());
  }
  return tags;
}

struct RuleCase {
  const char* name;
  Node node;
  bool seatMayRead;
};

// Event nodes as udev describes them (ID_INPUT_* from its input_id builtin).
const RuleCase kCases[] = {
    {"Mouse", {"add", "input", "event7", {{"ID_INPUT", "1"}, {"ID_INPUT_MOUSE", "1"}}}, true},
    {"MouseWithSomeKeys",
     {"add",
      "input",
      "event9",
      {{"ID_INPUT", "1"}, {"ID_INPUT_MOUSE", "1"}, {"ID_INPUT_KEY", "1"}}},
     true},
    {"MouseOnChange",
     {"change", "input", "event7", {{"ID_INPUT", "1"}, {"ID_INPUT_MOUSE", "1"}}},
     true},
    {"Keyboard",
     {"add",
      "input",
      "event8",
      {{"ID_INPUT", "1"}, {"ID_INPUT_KEY", "1"}, {"ID_INPUT_KEYBOARD", "1"}}},
     false},
    {"MouseThatIsAlsoAKeyboard",
     {"add",
      "input",
      "event10",
      {{"ID_INPUT", "1"},
       {"ID_INPUT_MOUSE", "1"},
       {"ID_INPUT_KEY", "1"},
       {"ID_INPUT_KEYBOARD", "1"}}},
     false},
    {"MouseInputParent",
     {"add", "input", "input7", {{"ID_INPUT", "1"}, {"ID_INPUT_MOUSE", "1"}}},
     false},
    {"Joystick",
     {"add", "input", "event11", {{"ID_INPUT", "1"}, {"ID_INPUT_JOYSTICK", "1"}}},
     false},
};

void PrintTo(const RuleCase& c, std::ostream* os) { *os << c.name; }

class UdevRuleTest : public ::testing::TestWithParam<RuleCase> {};

TEST_P(UdevRuleTest, GrantsTheSeatOnlyMouseNodesThatAreNoKeyboard) {
  const std::vector<std::string> tags = tagsFor(GetParam().node);
  const bool uaccess = std::find(tags.begin(), tags.end(), "uaccess") != tags.end();
  EXPECT_EQ(uaccess, GetParam().seatMayRead);
}

INSTANTIATE_TEST_SUITE_P(Nodes, UdevRuleTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
