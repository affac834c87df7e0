// Tests of KAV_CONTRACT: a broken rule stops the program with one line that
// names the rule and where it was checked; a kept one costs nothing else.

#include "base/contract.h"

#include <gtest/gtest.h>

#include "tests/support/death_tests.h"

namespace {

int CheckedDivide(int a, int b) {
    KAV_CONTRACT(b != 0, "CheckedDivide(%d, %d) needs a divisor", a, b);
    return a / b;
}

TEST(KavContract, AKeptRuleLetsTheOperationRun) { EXPECT_EQ(CheckedDivide(7, 2), 3); }

TEST(KavContractDeathTest, ABrokenRuleStopsWithTheRuleAndItsPlace) {
    KAV_START_DEATH_TEST();
    EXPECT_DEATH(
        CheckedDivide(7, 0),
        "^contract violated: CheckedDivide\\(7, 0\\) needs a divisor \\(.*contract_test\\.cpp:.+\\)");
}

TEST(KavContractDeathTest, TheConditionIsEvaluatedOnce) {
    KAV_START_DEATH_TEST();
    int evaluations = 0;
    EXPECT_DEATH(KAV_CONTRACT(++evaluations > 1, "evaluated %d time(s)", evaluations), "evaluated 1 time");
    KAV_CONTRACT(++evaluations == 1, "kept");
    EXPECT_EQ(evaluations, 1);
}

}  // namespace
