#include "service/pipe_token.h"

#include <gtest/gtest.h>

namespace {

TEST(PipeToken, IsTheProductOfTwoDrawsPlus7137) {
    struct row {
        int r1, r2;
        const char* token;
    };
    for (const row& r : {row{0, 0, "7137"}, row{1, 0, "7137"}, row{41, 18467, "764284"},
                         row{32767, 32767, "1073683426"}}) {
        EXPECT_EQ(pipe_token_from(r.r1, r.r2), r.token) << r.r1 << " * " << r.r2;
    }
}

TEST(PipeToken, DrawsFollowTheClassicGenerator) {
    seed_pipe_tokens(1);
    EXPECT_EQ(draw_pipe_random(), 41);
    EXPECT_EQ(draw_pipe_random(), 18467);
    EXPECT_EQ(draw_pipe_random(), 6334);
}

TEST(PipeToken, TakesTwoDrawsPerToken) {
    seed_pipe_tokens(1);
    EXPECT_EQ(make_pipe_token(), "764284");
    EXPECT_EQ(make_pipe_token(), pipe_token_from(6334, 26500));
}

TEST(PipeToken, DrawsStayInRangeForAnySeed) {
    for (std::uint32_t seed : {0u, 7u, 0xffffffffu, 1765000000u}) {
        seed_pipe_tokens(seed);
        for (int i = 0; i < 1000; ++i) {
            const int r = draw_pipe_random();
            ASSERT_GE(r, 0);
            ASSERT_LE(r, 32767);
        }
    }
}

}  // namespace
