#include "service/pipe_token.h"

#include "platform/pipe.h"

namespace service {

namespace {

// Only the main thread draws, so the state needs no guard.
std::uint32_t generator_state = 1;

}  // namespace

void seed_pipe_tokens(std::uint32_t seed) { generator_state = seed; }

int draw_pipe_random() {
    // The classic linear congruential generator, draws in 0..32767.
    generator_state = generator_state * 214013u + 2531011u;
    return static_cast<int>((generator_state >> 16) & 0x7fffu);
}

std::string pipe_token_from(int r1, int r2) {
    // At most 32767 * 32767 + 7137, well inside 32 bits.
    const long long token = static_cast<long long>(r1) * r2 + 7137;
    return std::to_string(token);
}

std::string make_pipe_token() {
    const int r1 = draw_pipe_random();
    const int r2 = draw_pipe_random();
    return pipe_token_from(r1, r2);
}

std::string make_private_pipe_token() {
    std::uint32_t token = 0;
    if (platform::unguessable_pipe_token(token)) return std::to_string(token);
    return make_pipe_token();
}

}  // namespace service
