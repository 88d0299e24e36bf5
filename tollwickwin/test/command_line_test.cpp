// The maintenance switches: whole words separated by spaces, compared without case, tried in the
// order -autorun, -noautorun, -setup, -remove.
#include "CommandLine.hpp"
#include "check.hpp"

namespace tollwick {

std::string Printable(Switch value) {
    switch (value) {
        case Switch::None: return "None";
        case Switch::Autorun: return "Autorun";
        case Switch::NoAutorun: return "NoAutorun";
        case Switch::Setup: return "Setup";
        case Switch::Remove: return "Remove";
    }
    return "Switch(" + std::to_string(static_cast<int>(value)) + ")";
}

}  // namespace tollwick

using tollwick::FindSwitch;
using tollwick::HasSwitch;
using tollwick::Switch;

TEST_CASE(each_switch_alone) {
    CHECK_EQ(FindSwitch("-autorun"), Switch::Autorun);
    CHECK_EQ(FindSwitch("-noautorun"), Switch::NoAutorun);
    CHECK_EQ(FindSwitch("-setup"), Switch::Setup);
    CHECK_EQ(FindSwitch("-remove"), Switch::Remove);
}

TEST_CASE(case_is_ignored) {
    CHECK_EQ(FindSwitch("-AUTORUN"), Switch::Autorun);
    CHECK_EQ(FindSwitch("-AutoRun"), Switch::Autorun);
    CHECK_EQ(FindSwitch("-NoAutorun"), Switch::NoAutorun);
    CHECK_EQ(FindSwitch("-SETUP"), Switch::Setup);
    CHECK_EQ(FindSwitch("-Remove"), Switch::Remove);
}

TEST_CASE(other_words_around_a_switch_are_ignored) {
    CHECK_EQ(FindSwitch("x -autorun y"), Switch::Autorun);
    CHECK_EQ(FindSwitch("   -autorun   "), Switch::Autorun);
    CHECK_EQ(FindSwitch("/quiet -setup"), Switch::Setup);
    CHECK_EQ(FindSwitch("-remove now"), Switch::Remove);
}

TEST_CASE(part_of_a_longer_word_is_no_switch) {
    CHECK_EQ(FindSwitch("-autorunx"), Switch::None);
    CHECK_EQ(FindSwitch("x-autorun"), Switch::None);
    CHECK_EQ(FindSwitch("--autorun"), Switch::None);
    CHECK_EQ(FindSwitch("-auto"), Switch::None);
    CHECK_EQ(FindSwitch("-autorun-setup"), Switch::None);
    CHECK_EQ(FindSwitch("\"-autorun\""), Switch::None);
    CHECK_EQ(FindSwitch("-setups -removed"), Switch::None);
}

TEST_CASE(only_spaces_separate_words) {
    CHECK_EQ(FindSwitch("x\t-autorun"), Switch::None);
    CHECK_EQ(FindSwitch("-autorun\t"), Switch::None);
    CHECK_EQ(FindSwitch("-setup\r\n"), Switch::None);
}

TEST_CASE(a_later_whole_word_counts_after_a_longer_one) {
    CHECK_EQ(FindSwitch("-autorunx -autorun"), Switch::Autorun);
    CHECK_EQ(FindSwitch("x-setup -setup"), Switch::Setup);
}

TEST_CASE(the_first_switch_in_order_wins) {
    CHECK_EQ(FindSwitch("-noautorun -autorun"), Switch::Autorun);
    CHECK_EQ(FindSwitch("-autorun -setup"), Switch::Autorun);
    CHECK_EQ(FindSwitch("-remove -setup"), Switch::Setup);
    CHECK_EQ(FindSwitch("-remove -noautorun"), Switch::NoAutorun);
    CHECK_EQ(FindSwitch("-remove -setup -noautorun -autorun"), Switch::Autorun);
}

TEST_CASE(no_switch_at_all) {
    CHECK_EQ(FindSwitch(""), Switch::None);
    CHECK_EQ(FindSwitch(nullptr), Switch::None);
    CHECK_EQ(FindSwitch("   "), Switch::None);
    CHECK_EQ(FindSwitch("hello world"), Switch::None);
    CHECK_EQ(FindSwitch("-"), Switch::None);
}

TEST_CASE(has_switch_matches_whole_words) {
    CHECK(HasSwitch("-setup", "-setup"));
    CHECK(HasSwitch("a -SETUP b", "-setup"));
    CHECK(HasSwitch("-autorun -setup", "-setup"));
    CHECK(!HasSwitch("a-setup", "-setup"));
    CHECK(!HasSwitch("-setupx", "-setup"));
    CHECK(!HasSwitch("-noautorun", "-autorun"));
    CHECK(!HasSwitch("", "-setup"));
    CHECK(!HasSwitch("-set", "-setup"));
}
