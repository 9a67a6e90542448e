// The test driver on its own, against boxes that the probe shows when started directly.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

// The driver on its own, against boxes that the probe shows when started directly.
struct BoxCase {
  const char* Name;
  UINT Style;
  int Answer;
  int Expected;  // what MessageBoxA returned in the probe
};

class DriverTest : public ::testing::TestWithParam<BoxCase> {};

TEST_P(DriverTest, ReadsAndAnswersABox) {
  const BoxCase& c = GetParam();
  TempFolder temp;
  std::string record = temp / "record.txt";
  SetEnvironmentVariableA("PROBE_RECORD", record.c_str());
  SetEnvironmentVariableA("PROBE_BOX", "Some text\nsecond line");
  SetEnvironmentVariableA("PROBE_BOX_CAPTION", "A caption");
  SetEnvironmentVariableA("PROBE_BOX_STYLE", std::to_string(c.Style).c_str());
  TRunScript script;
  script.Answers = {c.Answer};
  script.TimeLimitMs = 20000;
  TRunOutcome outcome = DriveRun(Quoted(ProbePath), temp.Path, script);
  SetEnvironmentVariableA("PROBE_BOX", nullptr);

  ASSERT_TRUE(outcome.Started);
  EXPECT_FALSE(outcome.TimedOut);
  ASSERT_EQ(outcome.Boxes.size(), 1u);
  EXPECT_EQ(outcome.Boxes[0].Caption, L"A caption");
  EXPECT_EQ(outcome.Boxes[0].Text, L"Some text\nsecond line");
  EXPECT_EQ(outcome.Boxes[0].Owner, TBoxOwner::None);
  EXPECT_EQ(outcome.Boxes[0].Type, c.Style) << std::hex << outcome.Boxes[0].Type;
  std::vector<TProbeRecord> records = ReadProbeRecords(record);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0]["BoxAnswer"], std::to_string(c.Expected));
  EXPECT_TRUE(records[0].count("end"));
  EXPECT_TRUE(outcome.WindowStates.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, DriverTest,
    ::testing::Values(BoxCase{"Ok", MB_OK, IDOK, IDOK},
                      BoxCase{"QuestionCancelled", MB_OKCANCEL | MB_ICONQUESTION, IDCANCEL, IDCANCEL},
                      BoxCase{"QuestionConfirmed", MB_OKCANCEL | MB_ICONQUESTION, IDOK, IDOK},
                      BoxCase{"Error", MB_ICONERROR, IDOK, IDOK}, BoxCase{"Warning", MB_ICONWARNING, IDOK, IDOK},
                      BoxCase{"Information", MB_ICONINFORMATION, IDOK, IDOK},
                      BoxCase{"YesNo", MB_YESNO | MB_ICONQUESTION, IDNO, IDNO}),
    CaseName());

TEST(Driver, EndsARunThatOutlivesItsTimeLimit) {
  TempFolder temp;
  SetEnvironmentVariableA("PROBE_RECORD", (temp / "record.txt").c_str());
  SetEnvironmentVariableA("PROBE_SLEEP", "60000");
  TRunScript script;
  script.TimeLimitMs = 500;
  TRunOutcome outcome = DriveRun(Quoted(ProbePath), temp.Path, script);
  SetEnvironmentVariableA("PROBE_SLEEP", nullptr);
  EXPECT_TRUE(outcome.TimedOut);
  // Far below the payload's minute, with room for a loaded machine.
  EXPECT_LT(outcome.EndedAt - outcome.StartedAt, 30000u);
}

TEST(Driver, ReadsRecordsWithEscapes) {
  TempFolder temp;
  ASSERT_TRUE(WriteTextFile(temp / "r.txt", "begin\nA=x\\\\y\\r\\nz\nB=\nbegin\r\nA=2\r\nend=\r\n"));
  std::vector<TProbeRecord> records = ReadProbeRecords(temp / "r.txt");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["A"], "x\\y\r\nz");
  EXPECT_EQ(records[0].count("B"), 1u);
  EXPECT_EQ(records[1]["A"], "2");
  EXPECT_EQ(records[1].count("end"), 1u);
}

}  // namespace
