#include "service/pipe_token.h"

#include <gtest/gtest.h>

namespace {

TEST(pipe_token, is_the_product_of_two_classic_draws_plus_7137) {
    EXPECT_EQ(service::pipe_token_from(0, 0), "7137");
    EXPECT_EQ(service::pipe_token_from(32767, 32767), "1073683426");
    service::seed_pipe_tokens(1);
    EXPECT_EQ(service::make_pipe_token(), "764284");  // 41 * 18467 + 7137
    EXPECT_EQ(service::make_pipe_token(), service::pipe_token_from(6334, 26500));
}

}  // namespace
