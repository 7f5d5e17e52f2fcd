#include "tests/tools/fake_service.h"

#include <future>
#include <thread>

#include "tools/zorvexplorer/pipe_client.h"

namespace tools_test {

bool finish_within(std::chrono::milliseconds deadline, const std::function<void()>& work,
                   const std::function<void()>& unblock) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    std::thread worker([&] {
        work();
        done.set_value();
    });
    const bool in_time = finished.wait_for(deadline) == std::future_status::ready;
    if (!in_time) unblock();
    worker.join();
    return in_time;
}

fake_service::fake_service(const std::string& program) {
    wrapper_name_ = name("wrapper");
    platform::pipe_server_options options;
    options.access = platform::pipe_access::outbound;
    wrapper_ = platform::pipe::create_server(wrapper_name_, options);
    if (!wrapper_.valid()) return;
    test_support::run_options run;
    run.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    client_ = std::make_unique<test_support::background_program>(
        std::vector<std::string>{test_support::built_program(program).string(), "-nosplash",
                                 "-vmargs",
                                 std::string(zorv::wrapper_pipe_property) + wrapper_name_},
        run);
    connected_ = finish_within(
        step_deadline,
        [&] { connected_ = wrapper_.wait_for_client() == platform::connect_status::connected; },
        [&] { unblock({wrapper_name_}); });
}

fake_service::~fake_service() {
    wrapper_.close();
    if (client_) client_->kill();
}

std::string fake_service::name(const std::string& what) {
    return R"(\\.\pipe\qorva\tooltest\)" + what + std::to_string(++counter_);
}

void fake_service::unblock(const std::vector<std::string>& names) {
    if (client_) client_->kill();
    // A blocked wait for a client ends when someone connects.
    for (const std::string& n : names)
        (void)platform::pipe::open(n, platform::pipe_open::read_write);
}

std::optional<announced_pair> fake_service::announce() {
    announced_pair pair;
    pair.request_name = name("request");
    pair.response_name = name("response");
    platform::pipe_server_options out;
    out.access = platform::pipe_access::outbound;
    platform::pipe_server_options in;
    in.access = platform::pipe_access::inbound;
    pair.request = platform::pipe::create_server(pair.request_name, out);
    pair.response = platform::pipe::create_server(pair.response_name, in);
    if (!pair.request.valid() || !pair.response.valid()) return std::nullopt;
    if (!wrapper_.write(pair.request_name + "\n" + pair.response_name + "\n")) return std::nullopt;
    bool ok = false;
    const bool in_time = finish_within(
        step_deadline,
        [&] {
            ok = pair.request.wait_for_client() == platform::connect_status::connected &&
                 pair.response.wait_for_client() == platform::connect_status::connected;
        },
        [&] {
            unblock({pair.request_name, pair.response_name});
        });
    if (!in_time || !ok) return std::nullopt;
    return pair;
}

std::optional<std::string> fake_service::exchange(announced_pair& pair,
                                                  const std::string& message) {
    if (!pair.request.write(message)) return std::nullopt;
    std::optional<std::string> answer;
    const bool in_time = finish_within(
        step_deadline, [&] { answer = zorv::read_message(pair.response); }, [&] { unblock({}); });
    if (!in_time) return std::nullopt;
    return answer;
}

std::optional<std::string> fake_service::request(const std::string& message) {
    auto pair = announce();
    if (!pair) return std::nullopt;
    return exchange(*pair, message);
}

std::string framed(const std::string& body) {
    return "POST /RPC2 HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

namespace {

std::string array(const std::vector<std::string>& items) {
    std::string s = "<param><value><array>";
    for (const std::string& i : items)
        s += "<data><value><string>" + i + "</string></value></data>";
    return s + "</array></value></param>";
}

std::string string_param(const std::string& s) {
    return "<param><value><string>" + s + "</string></value></param>";
}

}  // namespace

std::string call_text(const std::string& method, const std::optional<std::string>& output,
                      const std::vector<std::string>& names, const std::vector<std::string>& files,
                      const std::string& type) {
    std::string s = "<methodCall><methodName>" + method + "</methodName><params>";
    if (output) s += string_param(*output);
    return s + array(names) + array(files) + string_param(type) + "</params></methodCall>";
}

bool front_end_reads_true(const std::string& answer) {
    const std::size_t at = answer.find("<boolean>");
    return at != std::string::npos && answer.substr(at, 20).find('1') != std::string::npos;
}

}  // namespace tools_test
