#include <gtest/gtest.h>

#include "frontend/msg_catalogue.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

// The other texts are checked as the program prints them (driver_test.cpp).
TEST(catalogue, holds_the_usage_text) {
    EXPECT_STREQ(_trelmerge_trelmerge_msg_table_adr()->texts[msg_usage],
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
