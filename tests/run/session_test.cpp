// The texts both front ends share: the session id and the completion report.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "run/report.h"
#include "run/session.h"

namespace {

TEST(SessionId, IsTheLocalDateAsYearMonthDay) {
  std::tm t{};
  t.tm_year = 2009 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 31;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_isdst = -1;
  EXPECT_EQ(MakeSessionId(std::mktime(&t)), "091231");
}

TEST(SessionId, ChosenIdsAreLettersDigitsDashesAndUnderscores) {
  const std::pair<std::string, bool> cases[] = {
      {"240101", true}, {"run_2-b", true}, {std::string(128, 'a'), true}, {"", false},
      {std::string(129, 'a'), false}, {"a b", false}, {"../x", false}, {"a/b", false}, {"caf\xc3\xa9", false},
  };
  for (const auto& [id, ok] : cases) EXPECT_EQ(ValidSessionId(id), ok) << id;
}

TEST(CompletionTexts, ErrorsAndWarningsPickTheirLines) {
  const CompletionTexts clean = CompletionReportTexts({"/w/Session1", false, false});
  EXPECT_EQ(clean.title, "Work Done!");
  EXPECT_EQ(clean.processed, "Selected Data have been processed");
  EXPECT_EQ(clean.stored, "Results have been stored in:");
  EXPECT_EQ(clean.errors, std::vector<std::string>{"No Errors logged during the process"});
  EXPECT_TRUE(clean.warnings.empty());
  const CompletionTexts both = CompletionReportTexts({"/w/Session1", true, true});
  ASSERT_EQ(both.errors.size(), 3u);
  EXPECT_EQ(both.errors[0], "Oops! It seems there was an Error during the process");
  ASSERT_EQ(both.warnings.size(), 2u);
  EXPECT_EQ(both.warnings[1], "Please review the console to check them out");
}

}  // namespace
