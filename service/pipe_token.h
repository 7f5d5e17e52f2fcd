// Pipe tokens: r1 * r2 + 7137 from two draws of the service's pseudo-random generator.
#pragma once

#include <cstdint>
#include <string>

namespace service {

/// The generator the tokens come from: draws in 0..32767, seeded once at start-up.
void seed_pipe_tokens(std::uint32_t seed);
int draw_pipe_random();

/// r1 * r2 + 7137 in decimal.
std::string pipe_token_from(int r1, int r2);

/// Draws r1, then r2, and returns their token.
std::string make_pipe_token();

/// A token for a pipe that only the graphical client may learn: drawn from the system's
/// random source where the platform keeps its pipes apart only by their names (POSIX),
/// else make_pipe_token().
std::string make_private_pipe_token();

}  // namespace service
