#include "tools/zorvexplorer/pages/syntax_language.h"

#include <array>
#include <string>
#include <utility>

namespace zorv {

namespace {

using entry = std::pair<std::string_view, std::string_view>;

// By extension, in lower case. A header ".h" is taken for C++, which colours C as well.
constexpr std::array by_extension = {
    entry{"c", "c"},
    entry{"h", "cpp"},
    entry{"cc", "cpp"},
    entry{"cpp", "cpp"},
    entry{"cxx", "cpp"},
    entry{"c++", "cpp"},
    entry{"hpp", "cpp"},
    entry{"hh", "cpp"},
    entry{"hxx", "cpp"},
    entry{"h++", "cpp"},
    entry{"ipp", "cpp"},
    entry{"tpp", "cpp"},
    entry{"inl", "cpp"},
    entry{"ixx", "cpp"},
    entry{"cppm", "cpp"},
    entry{"cs", "csharp"},
    entry{"java", "java"},
    entry{"kt", "kotlin"},
    entry{"kts", "kotlin"},
    entry{"js", "javascript"},
    entry{"mjs", "javascript"},
    entry{"cjs", "javascript"},
    entry{"jsx", "javascript"},
    entry{"ts", "typescript"},
    entry{"mts", "typescript"},
    entry{"cts", "typescript"},
    entry{"tsx", "typescript"},
    entry{"json", "json"},
    entry{"jsonc", "json"},
    entry{"py", "python"},
    entry{"pyw", "python"},
    entry{"pyi", "python"},
    entry{"sh", "shell"},
    entry{"bash", "shell"},
    entry{"zsh", "shell"},
    entry{"ksh", "shell"},
    entry{"go", "go"},
    entry{"rs", "rust"},
    entry{"yaml", "yaml"},
    entry{"yml", "yaml"},
    entry{"xml", "xml"},
    entry{"xsd", "xml"},
    entry{"xsl", "xml"},
    entry{"xslt", "xml"},
    entry{"svg", "xml"},
    entry{"plist", "xml"},
    entry{"xaml", "xml"},
    entry{"resx", "xml"},
    entry{"csproj", "xml"},
    entry{"vcxproj", "xml"},
    entry{"props", "xml"},
    entry{"targets", "xml"},
    entry{"html", "html"},
    entry{"htm", "html"},
    entry{"xhtml", "html"},
    entry{"toml", "toml"},
    entry{"ini", "ini"},
    entry{"cfg", "ini"},
    entry{"conf", "ini"},
    entry{"properties", "ini"},
    entry{"reg", "ini"},
    entry{"desktop", "ini"},
    entry{"md", "markdown"},
    entry{"markdown", "markdown"},
    entry{"diff", "diff"},
    entry{"patch", "diff"},
    entry{"rej", "diff"},
    entry{"dockerfile", "dockerfile"},
    entry{"cmake", "cmake"},
    entry{"mk", "makefile"},
    entry{"mak", "makefile"},
};

// Whole names, in lower case.
constexpr std::array by_name = {
    entry{"makefile", "makefile"},     entry{"gnumakefile", "makefile"},
    entry{"dockerfile", "dockerfile"}, entry{"containerfile", "dockerfile"},
    entry{"cmakelists.txt", "cmake"},  entry{".bashrc", "shell"},
    entry{".bash_profile", "shell"},   entry{".bash_logout", "shell"},
    entry{".profile", "shell"},        entry{".zshrc", "shell"},
    entry{"pkgbuild", "shell"},        entry{".gitconfig", "ini"},
    entry{".gitmodules", "ini"},       entry{".editorconfig", "ini"},
    entry{"cargo.lock", "toml"},       entry{"pipfile", "toml"},
};

// Names that start so are variants of a well-known one: "Makefile.am", "Dockerfile.dev".
constexpr std::array by_name_start = {
    entry{"makefile.", "makefile"},
    entry{"dockerfile.", "dockerfile"},
    entry{"containerfile.", "dockerfile"},
};

// What editors, merge tools and build systems put behind a file's own name.
constexpr std::array<std::string_view, 6> backup_suffixes = {"~",    ".orig", ".bak",
                                                             ".old", ".new",  ".in"};

template <typename Table>
std::string_view look_up(const Table& table, std::string_view key) {
    for (const auto& [k, language] : table) {
        if (k == key) return language;
    }
    return {};
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The file's own name in a display name: its last path part, without a label after a tab
// or in parentheses at the end ("a.c (working copy)").
std::string_view file_part(std::string_view name) {
    if (const std::size_t tab = name.find('\t'); tab != std::string_view::npos)
        name = name.substr(0, tab);
    while (name.ends_with(' ')) name.remove_suffix(1);
    if (name.ends_with(')')) {
        if (const std::size_t open = name.rfind(" ("); open != std::string_view::npos)
            name = name.substr(0, open);
    }
    if (const std::size_t slash = name.find_last_of("/\\"); slash != std::string_view::npos)
        name = name.substr(slash + 1);
    return name;
}

std::string_view language_of_file(std::string_view name) {
    if (name.empty()) return {};
    if (const std::string_view found = look_up(by_name, name); !found.empty()) return found;
    for (const auto& [start, language] : by_name_start) {
        if (name.starts_with(start)) return language;
    }
    const std::size_t dot = name.rfind('.');
    // A leading dot alone makes a hidden file, not an extension.
    if (dot == std::string_view::npos || dot == 0) return {};
    return look_up(by_extension, name.substr(dot + 1));
}

}  // namespace

std::string_view language_of(std::string_view name) {
    std::string file = lower(file_part(name));
    for (;;) {
        if (const std::string_view found = language_of_file(file); !found.empty()) return found;
        bool stripped = false;
        for (const std::string_view suffix : backup_suffixes) {
            if (file.size() > suffix.size() && file.ends_with(suffix)) {
                file.resize(file.size() - suffix.size());
                stripped = true;
                break;
            }
        }
        if (!stripped) return {};
    }
}

std::string_view first_language_of(const std::vector<std::string_view>& names) {
    for (const std::string_view name : names) {
        if (const std::string_view found = language_of(name); !found.empty()) return found;
    }
    return {};
}

}  // namespace zorv
