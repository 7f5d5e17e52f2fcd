// Relaying one front-end request to the client over a pipe pair, and its answer back.
#pragma once

#include <string>
#include <string_view>

#include "platform/pipe.h"

struct relay_job {
    platform::pipe launcher_pipe;
    platform::pipe request_pipe;
    platform::pipe response_pipe;
};

/// "POST /RPC2 HTTP/1.1\r\nContent-Length: N\r\n\r\n" followed by body.
std::string frame_request(std::string_view body);

/// One whole message, every byte kept; what came before a failure when the pipe breaks.
std::string read_pipe_message(platform::pipe& pipe);

/// Serves one job and frees it; the start routine of a detached thread.
void relay_thread(void* job);
