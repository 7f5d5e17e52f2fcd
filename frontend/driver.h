#pragma once

namespace frontend {

/// The whole trelmerge run; returns the exit status (0 or -1).
int trelmerge_main(int argc, char** argv);

}  // namespace frontend
