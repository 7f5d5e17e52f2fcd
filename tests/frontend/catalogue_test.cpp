#include <gtest/gtest.h>

#include "frontend/msg_catalogue.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

TEST(Catalogue, HoldsTheNumberedTextsAtTheirPositions) {
    const imsg_catalogue* table = _trelmerge_trelmerge_msg_table_adr();
    ASSERT_EQ(table, _trelmerge_trelmerge_msg_table_adr());
    EXPECT_STREQ(table->name, "trelmerge_bin");
    EXPECT_STREQ(table->abbreviation, "tmg");
    EXPECT_EQ(table->code, 63);
    ASSERT_EQ(table->count, 9);
    const std::uint16_t numbers[] = {1, 2, 3, 4, 5, 6, 7, 8, 10};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(table->numbers[i], numbers[i]) << i;
    EXPECT_STREQ(table->texts[msg_usage],
                 "Usage: trelmerge\n"
                 "    [ -out output-pname ]\n"
                 "    [ -blank_ignore ]\n"
                 "    [-encoding utf-8|utf-16le|utf-16be|utf-32le|utf-32be]\n"
                 "    [ -base pname ]\n"
                 "contrib-pname ...");
    EXPECT_STREQ(table->texts[msg_favor_contrib_required],
                 "You must supply the \"-favor_contrib\" option when the \"-blank_ignore\" "
                 "option is used in merge mode.");
    EXPECT_STREQ(table->texts[msg_too_few_objects],
                 "At least two objects must be supplied to compare.");
    EXPECT_STREQ(table->texts[msg_invalid_favor_contrib],
                 "The favor contributor specified is invalid.");
    EXPECT_STREQ(table->texts[msg_incorrect_encoding], "Incorrect Encoding Option was Specified");
    EXPECT_STREQ(table->texts[msg_unrecognized_option], "Unrecognized option");
    EXPECT_STREQ(table->texts[msg_flag_requires_parameter],
                 "A specified flag requires a parameter.");
    EXPECT_STREQ(table->texts[msg_late_base],
                 "If the /base command line switch is used, it must appear before the names of "
                 "any contributor files or directories");
    EXPECT_EQ(std::string(table->texts[msg_utf8_ui_unavailable]).rfind("Currently the UTF8", 0),
              0u);
}

TEST(Catalogue, AccessorStandsInTheProgramsDynamicSymbols) {
    const auto nm = test_support::run_program(
        {"/usr/bin/nm", "-D", "--defined-only", test_support::built_program("trelmerge").string()});
    ASSERT_EQ(nm.exit_code, 0) << nm.err;
    EXPECT_NE(nm.out.find(" T _trelmerge_trelmerge_msg_table_adr\n"), std::string::npos) << nm.out;
}
