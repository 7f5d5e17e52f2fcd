#include "tests/support/installed_product.h"

namespace test_support {

namespace fs = std::filesystem;

installed_product::installed_product() : folder(box.work_dir()) { fs::create_directories(folder); }

run_options installed_product::options_for(const environment& extra) const {
    run_options options;
    fs::create_directories(folder);
    options.cwd = folder.string();
    options.env = env;
    for (const auto& [name, value] : extra) options.env[name] = value;
    options.deadline = deadline;
    return options;
}

std::vector<std::string> installed_product::command(std::string_view program,
                                                    const std::vector<std::string>& args) const {
    std::vector<std::string> argv{this->program(program).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

run_result installed_product::run(std::string_view program, const std::vector<std::string>& args,
                                  const environment& extra) {
    return run_program(command(program, args), options_for(extra));
}

background_program installed_product::start(std::string_view program,
                                            const std::vector<std::string>& args,
                                            const environment& extra) {
    return background_program(command(program, args), options_for(extra));
}

std::string installed_product::file(const std::string& name, std::string_view content) {
    fs::create_directories(folder);
    write_file(folder / name, content);
    return name;
}

std::string installed_product::read(const std::string& name) const {
    return read_file(folder / name);
}

fs::path installed_product::program(std::string_view name) const {
    return box.product_dir() / "bin" / (std::string(name) + std::string(program_suffix()));
}

fs::path installed_product::product() const { return fs::canonical(box.product_dir()); }

fs::path installed_product::files() const { return fs::canonical(folder); }

std::string installed_product::work_file(std::string_view name) const {
    return read_file(box.user_work_dir() / name);
}

std::optional<int> installed_product::service_pid() const {
    const std::string text = work_file("zorv_service.pid");
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    return std::stoi(text);
}

}  // namespace test_support
