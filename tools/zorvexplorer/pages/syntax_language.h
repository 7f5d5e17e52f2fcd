// Which language a file's name says, for colouring its text on the pages.
#pragma once

#include <string_view>
#include <vector>

namespace zorv {

/// The language that name (a path, or a display name such as "src/a.cpp (before)") says,
/// as the pages' colouring script names it ("cpp", "python", "makefile", ...), by its
/// extension or a well-known file name, in any case; a backup suffix ("~", ".orig", ".bak",
/// ".old", ".new", ".in") is looked through. Empty when the name says none.
std::string_view language_of(std::string_view name);

/// The language of the first of names that says one; empty when none does.
std::string_view first_language_of(const std::vector<std::string_view>& names);

}  // namespace zorv
