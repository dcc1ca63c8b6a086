// Checks the American English message catalogue that the installation ships:
// the line format its reader expects, that every message the tools look up is
// there, the exact words the parameter file writers depend on, and that the
// buttons and radio choices of a tool stay distinguishable by their text,
// which is how the tools tell them apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Catalogue {
  std::map<int, std::string> texts;
  std::vector<std::string> problems;  // "line N: what is wrong"
};

bool is_printable_ascii(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte <= 0x7e;
}

// An HTML entity such as &#169; or &amp; starting at pos.
bool entity_at(const std::string& text, std::size_t pos) {
  const std::size_t end = text.find(';', pos);
  if (end == std::string::npos || end == pos + 1) return false;
  std::size_t i = pos + 1;
  const bool numeric = text[i] == '#';
  if (numeric) ++i;
  if (i == end) return false;
  for (; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (numeric ? !std::isdigit(c) : !std::isalnum(c)) return false;
  }
  return true;
}

// Texts are written into pages as they stand, so markup characters would
// break the page (or a quoted attribute value when the text is a button).
std::string markup_problem(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' || c == '>' || c == '"') return std::string("character ") + c + " in text";
    if (c == '&' && !entity_at(text, i)) return "ampersand that does not start an entity";
  }
  return {};
}

// Returns the problem of one message line, or an empty text; fills number
// and text when the line is well formed.
std::string parse_message_line(const std::string& line, int& number, std::string& text) {
  std::size_t digits = 0;
  while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) ++digits;
  if (digits == 0) return "line does not start with a message number";
  if (line[0] == '0') return "message number with a leading zero";
  if (digits > 5) return "message number too long";
  if (digits == line.size() || line[digits] != ' ') return "number not followed by one blank";
  text = line.substr(digits + 1);
  if (text.empty()) return "empty text";
  if (text.front() == ' ' || text.back() == ' ') return "blank at the start or end of the text";
  number = std::stoi(line.substr(0, digits));
  return markup_problem(text);
}

Catalogue parse_catalogue(std::istream& in) {
  Catalogue catalogue;
  std::string line;
  int line_number = 0;
  int previous = 0;
  while (std::getline(in, line)) {
    ++line_number;
    const auto report = [&](const std::string& what) {
      catalogue.problems.push_back("line " + std::to_string(line_number) + ": " + what);
    };
    if (!std::all_of(line.begin(), line.end(), is_printable_ascii)) {
      report("byte that is not printable ASCII");
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    int number = 0;
    std::string text;
    if (const std::string problem = parse_message_line(line, number, text); !problem.empty()) {
      report(problem);
      continue;
    }
    if (number == previous) {
      report("message " + std::to_string(number) + " appears twice");
    } else if (number < previous) {
      report("message " + std::to_string(number) + " is not in ascending order");
    } else {
      catalogue.texts[number] = text;
      previous = number;
    }
  }
  return catalogue;
}

Catalogue parse_text(const std::string& content) {
  std::istringstream in(content);
  return parse_catalogue(in);
}

const Catalogue& shipped_catalogue() {
  static const Catalogue catalogue = [] {
    std::ifstream in(KV_CATALOGUE);
    if (!in) {
      Catalogue missing;
      missing.problems.push_back(std::string("cannot open ") + KV_CATALOGUE);
      return missing;
    }
    return parse_catalogue(in);
  }();
  return catalogue;
}

// The text of a message, with a test failure when it is missing.
std::string text_of(int number) {
  const auto& texts = shipped_catalogue().texts;
  const auto found = texts.find(number);
  if (found == texts.end()) {
    ADD_FAILURE() << "message " << number << " missing";
    return {};
  }
  return found->second;
}

std::string joined(const std::vector<int>& numbers) {
  std::string all;
  for (const int n : numbers) all += (all.empty() ? "" : ", ") + std::to_string(n);
  return all;
}

// ---------------------------------------------------------------------------
// The checker itself: each fault of the format must be caught.

TEST(CatalogueFormat, EachFaultOfALineIsReported) {
  struct Case {
    const char* content;
    const char* expected;  // part of the one problem reported
  };
  const Case cases[] = {
      {"1001 B\n1000 A\n", "not in ascending order"},
      {"1000 A\n1000 B\n", "appears twice"},
      {"1000 caf\xc3\xa9\n", "not printable ASCII"},
      {"# caf\xc3\xa9\n", "not printable ASCII"},
      {"1000 ends in CR\r\n", "not printable ASCII"},
      {"1000\tA\n", "not printable ASCII"},
      {"1000\n", "one blank"},
      {"1000A\n", "one blank"},
      {"1000  A\n", "blank at the start"},
      {"1000 A \n", "blank at the start or end"},
      {"01000 A\n", "leading zero"},
      {"A 1000\n", "does not start with a message number"},
      {" 1000 A\n", "does not start with a message number"},
      {"1000 a<b\n", "character <"},
      {"1000 a>b\n", "character >"},
      {"1000 say \"x\"\n", "character \""},
      {"1000 this & that\n", "ampersand"},
      {"1000 &#; is no entity\n", "ampersand"},
  };
  for (const auto& c : cases) {
    const Catalogue parsed = parse_text(c.content);
    ASSERT_EQ(parsed.problems.size(), 1u) << c.content;
    EXPECT_NE(parsed.problems[0].find(c.expected), std::string::npos)
        << c.content << " gave: " << parsed.problems[0];
  }
}

TEST(CatalogueFormat, CommentsBlankLinesAndEntitiesAreAccepted) {
  const Catalogue parsed =
      parse_text("# header\n\n1000 Copyright &#169; 1998\n#1001 commented out\n1002 A\n9031 Z");
  EXPECT_TRUE(parsed.problems.empty());
  const std::map<int, std::string> expected = {
      {1000, "Copyright &#169; 1998"}, {1002, "A"}, {9031, "Z"}};
  EXPECT_EQ(parsed.texts, expected);
}

// ---------------------------------------------------------------------------
// The shipped catalogue.

TEST(ShippedCatalogue, ParsesWithoutProblems) {
  const Catalogue& catalogue = shipped_catalogue();
  for (const auto& problem : catalogue.problems) ADD_FAILURE() << problem;
  EXPECT_FALSE(catalogue.texts.empty());
}

// Every message number that some page, button or error block looks up.
TEST(ShippedCatalogue, HoldsEveryMessageTheToolsLookUp) {
  struct Group {
    const char* tool;
    std::vector<int> numbers;
  };
  const Group required[] = {
      {"framework and launcher",
       {1000, 1005, 1006, 1010, 1011, 1012, 1013, 1023, 1024, 1026, 1027, 1028, 1031, 1032,
        1033, 1034, 1035, 1036, 1042, 1043, 1044, 1045, 1046, 1047, 1052, 1053, 1054}},
      {"backup", {2000}},
      {"database control and status", {3000, 3123, 3124}},
      {"export",
       {4001, 4002, 4005, 4006, 4007, 4008, 4009, 4010, 4011, 4012, 4013, 4014, 4015, 4016,
        4017, 4020, 4021, 4022, 4023, 4024, 4025, 4026, 4027, 4028, 4029, 4030, 4031, 4032,
        4033, 4034, 4043, 4046, 4047, 4054, 4055, 4056, 4058, 4059, 4061, 4062, 4063, 4064,
        4065, 4066, 4067}},
      {"import",
       {5001, 5002, 5003, 5004, 5005, 5006, 5007, 5008, 5011, 5012, 5013, 5016, 5017, 5019,
        5020, 5021, 5022, 5026, 5027, 5028, 5029, 5030, 5032, 5033}},
      {"recovery", {6000}},
      {"session manager", {7000}},
      {"security manager", {8000}},
      {"tablespace",
       {9000, 9001, 9002, 9003, 9004, 9005, 9006, 9007, 9009, 9010, 9011, 9012, 9013, 9014,
        9015, 9016, 9017, 9019, 9020, 9021, 9022, 9023, 9024, 9025, 9026, 9027, 9028, 9029,
        9030, 9031}},
  };
  const auto& texts = shipped_catalogue().texts;
  for (const auto& group : required) {
    for (const int number : group.numbers) {
      EXPECT_EQ(texts.count(number), 1u) << group.tool << ": message " << number << " missing";
    }
  }
}

// The parameter file writers compare the chosen type with these very words,
// and a few literals are also written by the program before the catalogue
// is open; the catalogue must say the same.
TEST(ShippedCatalogue, FixedWordsAreExact) {
  const std::map<int, std::string> exact = {
      {4026, "None"},     {4027, "Complete"}, {4028, "Cumulative"},
      {4029, "Incremental"}, {4032, "Estimate"}, {4033, "Compute"},
      {5004, "System"},   {5005, "Restore"},
      {1013, "Cannot allocate memory."},
      {1023, "NLS client callback initialization failed."},
      {1024, "NLS data loading initialization failed."},
      {1026, "NLS message handle initialization failed."},
  };
  for (const auto& [number, text] : exact) EXPECT_EQ(text_of(number), text) << "message " << number;
}

// A tool finds the pressed button (or the chosen radio value) by comparing
// the posted text with the texts of its messages; two alike texts make one
// of the choices unreachable. Compared without case and surrounding blanks,
// so the choices stay apart whatever the text comparison ignores.
TEST(ShippedCatalogue, ChoicesOfOneToolOrGroupDiffer) {
  struct Group {
    const char* name;
    std::vector<int> numbers;
  };
  const Group groups[] = {
      // 1054 confirms the export overwrite warning and is posted to both tools.
      {"export buttons", {4002, 4005, 4010, 4046, 4047, 4054, 1054}},
      {"import buttons", {4010, 5001, 5011, 5012, 5013, 5020, 5032, 5033, 1054}},
      {"tablespace actions", {9009, 9010, 9011, 9012}},
      {"export scope", {4007, 4008, 4009}},
      {"import scope", {4007, 4008, 5016}},
      {"export incremental type", {4026, 4027, 4028, 4029}},
      {"export statistics type", {4026, 4032, 4033}},
      {"import incremental type", {4026, 5004, 5005}},
      {"size unit", {9019, 9020}},
  };
  const auto folded = [](std::string text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    text = first == std::string::npos ? "" : text.substr(first, last - first + 1);
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  for (const auto& group : groups) {
    std::map<std::string, int> seen;
    for (const int number : group.numbers) {
      const auto [where, fresh] = seen.emplace(folded(text_of(number)), number);
      EXPECT_TRUE(fresh) << group.name << ": " << number << " reads like " << where->second
                         << " (" << joined(group.numbers) << ")";
    }
  }
}

TEST(ShippedCatalogue, TextsFitTheBuffersTheyAreReadInto) {
  // Callers look texts up into 256-byte buffers.
  for (const auto& [number, text] : shipped_catalogue().texts) {
    EXPECT_LE(text.size(), 255u) << "message " << number;
  }
  // The size refusals join two texts into one 512-byte block.
  for (const int first : {9026, 9027}) {
    EXPECT_LE((text_of(first) + text_of(9028)).size(), 511u) << first << " + 9028";
  }
}

// The default submit block writes its label unquoted as the button's name,
// so a blank would cut the name in two.
TEST(ShippedCatalogue, DefaultButtonIsOneWord) {
  const std::string label = text_of(1054);
  EXPECT_FALSE(label.empty());
  EXPECT_EQ(label.find_first_of(" \t"), std::string::npos) << label;
}

// Messages that tell the user which button or choice to use must name it as
// the page shows it, or the advice points at nothing.
TEST(ShippedCatalogue, AdviceNamesTheLabelsItRefersTo) {
  struct Reference {
    int advice;
    int label;
  };
  const Reference references[] = {
      {4062, 1054},  // overwrite warning: the confirming button
      {4066, 4009},  // incremental export needs the full database scope
      {4067, 4024},  // consistent export box
      {5029, 5016},  // incremental import needs the whole file scope
      {5002, 5019},  // whole-file note: the ignore box
      {1035, 3000},  // instance down at login: the tool that starts it
  };
  for (const auto& ref : references) {
    const std::string label = text_of(ref.label);
    EXPECT_NE(text_of(ref.advice).find(label), std::string::npos)
        << "message " << ref.advice << " should name \"" << label << "\" (" << ref.label << ")";
  }
}

}  // namespace
