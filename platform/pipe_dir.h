// The pipe directory checked before anything is started that would use it.
#pragma once

#include <string>

namespace platform {

/// What makes dir, the pipe directory, unfit to hold our pipes, in words for the user
/// ("belongs to another user", "is open to other users (mode 0755)", ...); empty when it is
/// a private directory of the effective user. A missing directory is created private
/// (last component only). Nothing is followed: a symbolic link is itself the fault.
/// Windows has no pipe directory (dir is empty) and nothing to check.
std::string pipe_directory_problem(const std::string& dir);

}  // namespace platform
