// A plain client socket for tests that talk to a loopback server by hand.
#pragma once

namespace test_support {

/// A connected TCP socket to 127.0.0.1:port (close-on-exec), or -1.
int connect_to_loopback(int port);

}  // namespace test_support
