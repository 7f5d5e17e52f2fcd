// What the stand-in relay service (fake_service.cpp) reads from its environment.
#pragma once

namespace fake_service {

/// The file that receives the bytes of the last request (written whole, then renamed).
inline constexpr const char* request_file_env = "FAKE_SERVICE_REQUEST_FILE";

/// The answer to every request; when unset the service closes without answering.
inline constexpr const char* reply_env = "FAKE_SERVICE_REPLY";

}  // namespace fake_service
