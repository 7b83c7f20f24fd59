// Runs the scripted interpreter and screen-model cases in scripts/*.test.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "terminal/script_harness.h"

class TerminalScript : public ::testing::TestWithParam<const char*> {};

TEST_P(TerminalScript, AllCasesHold) {
  std::string path = source_path(std::string("tests/terminal/scripts/") + GetParam());
  int cases = 0;
  std::vector<ScriptFailure> failures = run_terminal_script(path, &cases);
  for (const ScriptFailure& f : failures)
    ADD_FAILURE_AT(path.c_str(), f.line) << "[" << f.case_name << "] " << f.message;
  EXPECT_GT(cases, 0) << "no cases in " << path;
}

INSTANTIATE_TEST_SUITE_P(Scripts, TerminalScript,
                         ::testing::Values("screen.test", "ansi.test", "editing.test"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name = info.param;
                           return name.substr(0, name.find('.'));
                         });
