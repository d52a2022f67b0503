// The grammar of WDT_SIM_BEHAVIOUR: what it accepts means what it says, and
// everything else is refused with the entry that is wrong and why.
#include <gtest/gtest.h>

#include <string>

#include "behaviour.h"

namespace {

using sim::Behaviour;
using sim::ParseBehaviour;

TEST(BehaviourList, EmptyTextIsHonest) {
  const auto list = ParseBehaviour("");
  EXPECT_EQ(list.error, "");
  EXPECT_EQ(list.behaviour, Behaviour{});
}

TEST(BehaviourList, AcceptedEntriesMeanWhatTheySay) {
  const auto list = ParseBehaviour("frozen,rate=0.5,grant=12,ignore-reload,ignore-disarm,round=down");
  ASSERT_EQ(list.error, "");
  EXPECT_EQ(list.behaviour, (Behaviour{.frozen = true, .rate = 0.5, .grant = 12, .ignore_reload = true,
                                       .ignore_disarm = true, .round_down = true}));
  EXPECT_EQ(ParseBehaviour("rate=100,grant=255").behaviour, (Behaviour{.rate = 100, .grant = 255}));
  EXPECT_DOUBLE_EQ(ParseBehaviour("rate=0.01").behaviour.rate, 0.01);
  EXPECT_DOUBLE_EQ(ParseBehaviour("rate=001.250000").behaviour.rate, 1.25);
  EXPECT_EQ(ParseBehaviour("grant=0012,round=up").behaviour, Behaviour{.grant = 12});
}

struct Malformed {
  const char* text;
  const char* error;  // the whole message: which entry, and why
};

class MalformedBehaviourList : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedBehaviourList, IsRefusedWithTheEntryAndTheReason) {
  const auto list = ParseBehaviour(GetParam().text);
  EXPECT_EQ(list.error, GetParam().error);
  EXPECT_EQ(list.behaviour, Behaviour{});
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, MalformedBehaviourList,
    testing::Values(
        Malformed{"Frozen", "entry 1 'Frozen': unknown behaviour 'Frozen'"},
        Malformed{"\x1b]0;x\a\\", "entry 1 '\\x1b]0;x\\x07\\\\': unknown behaviour '\\x1b]0;x\\x07\\\\'"},
        Malformed{"frozen=1", "entry 1 'frozen=1': 'frozen' takes no value"},
        Malformed{"rate", "entry 1 'rate': 'rate' needs '=' and a value"},
        Malformed{"rate=0.009", "entry 1 'rate=0.009': rate is not a decimal number from 0.01 to 100"},
        Malformed{"rate=100.000001", "entry 1 'rate=100.000001': rate is not a decimal number from 0.01 to 100"},
        Malformed{"rate=1.0000001", "entry 1 'rate=1.0000001': rate is not a decimal number from 0.01 to 100"},
        Malformed{"grant=0", "entry 1 'grant=0': grant is not a whole number from 1 to 255"},
        Malformed{"grant=256", "entry 1 'grant=256': grant is not a whole number from 1 to 255"},
        Malformed{"round=Down", "entry 1 'round=Down': round is neither 'up' nor 'down'"},
        Malformed{"frozen,", "entry 2 '': empty entry"},
        Malformed{"rate=2,grant=9,rate=2", "entry 3 'rate=2': the same behaviour is given twice"}));

TEST(BehaviourList, AnEmbeddedNulIsJunkNotTheEndOfTheText) {
  EXPECT_NE(ParseBehaviour(std::string_view("frozen\0,x", 9)).error, "");
}

}  // namespace
