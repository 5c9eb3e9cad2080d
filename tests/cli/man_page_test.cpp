// The man page is written by hand; these tests keep it from falling behind the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "cli/cli.h"
#include "cli/settings_fields.h"

namespace {

// The page as a reader sees it: roff's escaped minus signs and font changes taken out.
std::string manPageText() {
  std::ifstream file(MERVANE_MAN_PAGE);
  std::stringstream raw;
  raw << file.rdbuf();
  std::string text = std::regex_replace(raw.str(), std::regex(R"(\\-)"), "-");
  return std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
}

std::string usageText() {
  std::ostringstream out, err;
  EXPECT_EQ(runCli({"--help"}, out, err), 0);
  return out.str();
}

// Every --option and every command the usage text names.
std::set<std::string> usageWords(const std::string& usage) {
  std::set<std::string> words;
  const std::regex option(R"(--[a-z]+)");
  for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it)
    words.insert(it->str());
  // Command lines are indented by two spaces under "Commands:"; their first word is the name.
  const std::string commands = usage.substr(usage.find("Commands:"));
  const std::regex command(R"(\n  ([a-z][a-z-]*))");
  for (std::sregex_iterator it(commands.begin(), commands.end(), command), end; it != end; ++it)
    words.insert((*it)[1].str());
  return words;
}

TEST(ManPage, NamesEveryOptionAndCommandOfTheUsage) {
  const std::string page = manPageText();
  ASSERT_FALSE(page.empty()) << MERVANE_MAN_PAGE;
  const std::set<std::string> words = usageWords(usageText());
  // A usage text that lost its sections would make this test pass on nothing.
  ASSERT_TRUE(words.count("--backend") && words.count("sweep") && words.count("search-offset"));
  for (const std::string& word : words) {
    EXPECT_NE(page.find(word), std::string::npos) << word << " is missing from the man page";
  }
}

TEST(ManPage, ListsEverySettableFieldUnderSettings) {
  const std::string page = manPageText();
  const size_t begin = page.find(".SH SETTINGS");
  ASSERT_NE(begin, std::string::npos);
  const std::string section = page.substr(begin, page.find(".SH", begin + 1) - begin);
  for (const std::string_view field : settingsFieldNames()) {
    // Whole words, so that "gain" is not found inside "gainEnabled".
    const std::regex word("\\b" + std::string(field) + "\\b");
    EXPECT_TRUE(std::regex_search(section, word)) << field << " is missing from the man page";
  }
}

// ---- bash completion: written by hand too, so the same check keeps it in step ----

std::string completionScript() {
  std::ifstream file(MERVANE_COMPLETION);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Whole words of the script: an option, a command, "field=" or a room key ("preset=desk").
bool offers(const std::string& script, const std::string& word) {
  const std::regex whole("(^|[\\s\"(|])" +
                         std::regex_replace(word, std::regex(R"([-=])"), R"(\$&)") +
                         "($|[\\s\")|=])");
  return std::regex_search(script, whole);
}

TEST(Completion, OffersEveryOptionCommandAndFieldOfTheUsage) {
  const std::string script = completionScript();
  ASSERT_FALSE(script.empty()) << MERVANE_COMPLETION;
  const std::string usage = usageText();
  std::set<std::string> words = usageWords(usage);
  // Whole option names (usageWords keeps the letters before a hyphen).
  const std::regex option(R"(--[a-z][a-z-]*[a-z])");
  for (std::sregex_iterator it(usage.begin(), usage.end(), option), end; it != end; ++it)
    words.insert(it->str());
  ASSERT_TRUE(words.count("--quiet-chirp") && words.count("render"));
  for (const std::string& word : words) {
    // usageWords keeps the front of a hyphenated option ("--quiet" of "--quiet-chirp").
    const auto front = [&word](const std::string& other) {
      return other.rfind(word + "-", 0) == 0;
    };
    if (std::any_of(words.begin(), words.end(), front)) continue;
    EXPECT_TRUE(offers(script, word)) << word << " is missing from the bash completion";
  }
  for (const std::string_view field : settingsFieldNames()) {
    EXPECT_TRUE(offers(script, std::string(field) + "=")) << field << " is not completed";
  }
}

// What bash offers for the first word: every command, as the usage lists them.
TEST(Completion, BashOffersTheCommandsFirst) {
  const std::string command = std::string("bash -c 'source ") + MERVANE_COMPLETION +
                              " && COMP_WORDS=(mervane-cli \"\") COMP_CWORD=1 && _mervane_cli && "
                              "echo \"${COMPREPLY[*]}\"'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[512] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  ASSERT_TRUE(read);
  const std::string offered = line;
  const std::string usage = usageText();
  const size_t from = usage.find("Commands:");
  const std::string commands = usage.substr(from, usage.find("\n\n", from) - from);
  const std::regex name(R"(\n  ([a-z][a-z-]*))");
  for (std::sregex_iterator it(commands.begin(), commands.end(), name), end; it != end; ++it) {
    EXPECT_TRUE(offers(" " + offered + " ", (*it)[1].str())) << (*it)[1].str() << ": " << offered;
  }
}

}  // namespace
