#include <gtest/gtest.h>

#include "frontend/msg_catalogue.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

TEST(catalogue, record_names_itself_and_counts_nine_entries) {
    const imsg_catalogue* table = frontend::_trelmerge_trelmerge_msg_table_adr();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(frontend::_trelmerge_trelmerge_msg_table_adr(), table);
    EXPECT_STREQ(table->name, "trelmerge_bin");
    EXPECT_STREQ(table->abbreviation, "tmg");
    EXPECT_EQ(table->code, 63);
    EXPECT_EQ(table->count, 9);
}

// Every position's number and text; the texts that validation prints are also checked as the
// program prints them (driver_test.cpp), the others only here, as no path prints them.
TEST(catalogue, holds_each_number_and_text_at_its_position) {
    const struct {
        int position;
        int number;
        const char* text;
    } entries[] = {
        {1, 2, "Unrecognized option"},
        {2, 3, "A specified flag requires a parameter."},
        {3, 4,
         "You must supply the \"-favor_contrib\" option when the \"-blank_ignore\" option is used "
         "in merge mode."},
        {4, 5, "At least two objects must be supplied to compare."},
        {5, 6, "The favor contributor specified is invalid."},
        {6, 7,
         "If the /base command line switch is used, it must appear before the names of any "
         "contributor files or directories"},
        {7, 8, "Incorrect Encoding Option was Specified"},
        {8, 10,
         "Currently the UTF8 Compare / Merge UI is not available on this platform. However you "
         "can access this UTF8 Compare/Merge functionality from a command line interface. For "
         "additional details, please refer to the Release Notes"},
    };
    const imsg_catalogue* table = frontend::_trelmerge_trelmerge_msg_table_adr();
    ASSERT_EQ(table->count, 9);
    EXPECT_EQ(table->numbers[0], 1);
    for (const auto& e : entries) {
        EXPECT_EQ(table->numbers[e.position], e.number) << e.position;
        EXPECT_STREQ(table->texts[e.position], e.text) << e.position;
    }
}

TEST(catalogue, holds_the_usage_text) {
    EXPECT_STREQ(frontend::_trelmerge_trelmerge_msg_table_adr()->texts[0],
                 "Usage: trelmerge\n"
                 "    [ -out output-pname ]\n"
                 "    [ -blank_ignore ]\n"
                 "    [-encoding utf-8|utf-16le|utf-16be|utf-32le|utf-32be]\n"
                 "    [ -base pname ]\n"
                 "contrib-pname ...");
}

TEST(catalogue, accessor_stands_in_the_programs_dynamic_symbols) {
    const auto nm = test_support::run_program(
        {"/usr/bin/nm", "-D", "--defined-only", test_support::built_program("trelmerge").string()});
    ASSERT_EQ(nm.exit_code, 0) << nm.err;
    EXPECT_NE(nm.out.find(" T _trelmerge_trelmerge_msg_table_adr\n"), std::string::npos) << nm.out;
}
