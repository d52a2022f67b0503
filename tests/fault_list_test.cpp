// The grammar of WDT_SIM_FAULTS: what it accepts means what it says, and
// everything else is refused with the entry that is wrong and why.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "fault_list.h"

namespace {

using sim::Fault;
using sim::kEveryCall;
using sim::Operation;
using sim::ParseFaultList;

TEST(FaultList, EmptyTextMeansNoFaults) {
  const auto list = ParseFaultList("");
  EXPECT_TRUE(list.error.empty());
  EXPECT_TRUE(list.faults.empty());
}

TEST(FaultList, AcceptedEntriesMeanWhatTheySay) {
  const auto list = ParseFaultList(
      "EnableTimer#2=3,ReadTimerValue=1,InitializeSession=-1,DisableTimer#4294967295=2147483647,"
      "WriteTimerValue#007=-2147483648,CloseSession=0");
  ASSERT_EQ(list.error, "");
  EXPECT_EQ(list.faults, (std::vector<Fault>{
                             {Operation::EnableTimer, 2, 3},
                             {Operation::ReadTimerValue, kEveryCall, 1},
                             {Operation::InitializeSession, kEveryCall, -1},
                             {Operation::DisableTimer, 4294967295u, INT_MAX},
                             {Operation::WriteTimerValue, 7, INT_MIN},
                             {Operation::CloseSession, kEveryCall, 0},
                         }));
}

TEST(FaultList, ACallNumberWinsOverEveryCallInEitherOrder) {
  for (const char* text : {"EnableTimer=1,EnableTimer#2=3", "EnableTimer#2=3,EnableTimer=1"}) {
    SCOPED_TRACE(text);
    const auto list = ParseFaultList(text);
    ASSERT_EQ(list.error, "");
    EXPECT_EQ(sim::InjectedStatus(list.faults, Operation::EnableTimer, 1), 1);
    EXPECT_EQ(sim::InjectedStatus(list.faults, Operation::EnableTimer, 2), 3);
    EXPECT_EQ(sim::InjectedStatus(list.faults, Operation::EnableTimer, 3), 1);
    EXPECT_EQ(sim::InjectedStatus(list.faults, Operation::DisableTimer, 2), std::nullopt);
  }
}

TEST(FaultList, OnlyTheNthCallOfItsOwnOperation) {
  const auto list = ParseFaultList("WriteTimerValue#3=-5");
  ASSERT_EQ(list.error, "");
  for (std::uint64_t call = 1; call <= 5; ++call) {
    EXPECT_EQ(sim::InjectedStatus(list.faults, Operation::WriteTimerValue, call),
              call == 3 ? std::optional<StatusCode>(-5) : std::nullopt);
    EXPECT_EQ(sim::InjectedStatus(list.faults, Operation::ReadTimerValue, call), std::nullopt);
  }
}

struct Malformed {
  const char* text;
  const char* error;  // the whole message: which entry, and why
};

class MalformedFaultList : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedFaultList, IsRefusedWithTheEntryAndTheReason) {
  const auto list = ParseFaultList(GetParam().text);
  EXPECT_EQ(list.error, GetParam().error);
  EXPECT_TRUE(list.faults.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, MalformedFaultList,
    testing::Values(
        Malformed{"ResetTimer=1", "entry 1 'ResetTimer=1': unknown operation 'ResetTimer'"},
        Malformed{"enabletimer=1", "entry 1 'enabletimer=1': unknown operation 'enabletimer'"},
        // Bytes that would drive the operator's terminal are shown escaped.
        Malformed{"\x1b[2J\\=1", "entry 1 '\\x1b[2J\\\\=1': unknown operation '\\x1b[2J\\\\'"},
        Malformed{" EnableTimer=1", "entry 1 ' EnableTimer=1': unknown operation ' EnableTimer'"},
        Malformed{"EnableTimer=1,Foo#2=3", "entry 2 'Foo#2=3': unknown operation 'Foo'"},
        Malformed{"EnableTimer#0=3",
                  "entry 1 'EnableTimer#0=3': call number is not a whole number from 1 to 4294967295"},
        Malformed{"EnableTimer#4294967296=3",
                  "entry 1 'EnableTimer#4294967296=3': call number is not a whole number from 1 to "
                  "4294967295"},
        Malformed{"EnableTimer#2#3=3",
                  "entry 1 'EnableTimer#2#3=3': call number is not a whole number from 1 to 4294967295"},
        Malformed{"EnableTimer=2147483648",
                  "entry 1 'EnableTimer=2147483648': status is not a decimal 32-bit signed integer"},
        Malformed{"EnableTimer=-2147483649",
                  "entry 1 'EnableTimer=-2147483649': status is not a decimal 32-bit signed integer"},
        Malformed{"EnableTimer=1=2", "entry 1 'EnableTimer=1=2': status is not a decimal 32-bit signed integer"},
        Malformed{"EnableTimer", "entry 1 'EnableTimer': no '=' before the status"},
        Malformed{"=3", "entry 1 '=3': unknown operation ''"},
        Malformed{",", "entry 1 '': empty entry"},
        Malformed{"EnableTimer=1,", "entry 2 '': empty entry"},
        Malformed{"EnableTimer=1,,CloseSession=2", "entry 2 '': empty entry"},
        Malformed{"EnableTimer=1,EnableTimer=2",
                  "entry 2 'EnableTimer=2': the same operation and call are given twice"},
        Malformed{"EnableTimer#2=1,EnableTimer#02=2",
                  "entry 2 'EnableTimer#02=2': the same operation and call are given twice"}));

TEST(FaultList, AnEmbeddedNulIsJunkNotTheEndOfTheText) {
  const auto list = ParseFaultList(std::string_view("EnableTimer=1\0,x", 16));
  EXPECT_NE(list.error, "");
}

}  // namespace
