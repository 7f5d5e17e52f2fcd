// The rows of a compare page's tables: what the page's script draws, written as markup for
// small pages so that they read without JavaScript.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zorvexplorer/pages/compare_page_model.h"

namespace zorv {

/// Unchanged runs longer than this fold, keeping this many lines next to each change.
inline constexpr std::size_t fold_longer_than = 8;
inline constexpr std::size_t fold_context = 3;

/// A line as the page shows it: without its line end, valid UTF-8.
std::string shown_line(std::string_view line);

/// The same, without a copy where the line is ASCII; scratch holds the text otherwise.
std::string_view shown_view(std::string_view line, std::string& scratch);

/// Three columns: the column whose line alone differs in row r of a change, -1 when all
/// three differ; a row where nothing differs keeps what the change as a whole has.
int three_column_row_only(const page_block& b, std::size_t r,
                          const std::vector<const page_lines*>& cols);

/// The column that column c is compared with for the marks within a line; c itself when
/// c has no marks: the lone differing column against one that agrees, or, where all
/// differ, the first against the second and the others against the first.
std::size_t mark_partner(std::size_t columns, std::size_t c, int only);

/// How many rows the tables take with their long unchanged runs folded.
std::size_t page_rows(std::size_t tables,
                      const std::function<const std::vector<page_block>&(std::size_t)>& blocks);

/// A table's rows as markup. Changes are numbered from change_number on; it is advanced.
std::string static_rows(const std::vector<page_block>& blocks,
                        const std::vector<const page_lines*>& cols,
                        const std::vector<std::string>& titles, std::size_t& change_number);

}  // namespace zorv
