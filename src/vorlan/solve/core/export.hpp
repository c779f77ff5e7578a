// Export of the compiler's flat linear instance to the two common text formats that
// other solvers read: free-format MPS and LP. No solver is needed here.
#pragma once
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "vorlan_core/core/instance.hpp"

namespace vorlan::solve {

// How a row is written. Rows with no finite side constrain nothing and are left out.
// A range (both sides finite, lower < upper) is one MPS row with a RANGES entry but two
// LP rows (LP readers do not agree on a two-sided form). A row whose lower side exceeds
// its upper side can never hold; a range would hide that, so it is written as two
// one-sided rows in both formats.
enum class RowKind { Free, Equal, Upper, Lower, Range, Crossed };
RowKind row_kind(const compiler::Row& row);

// Names as they appear in an exported file: the model's names with every character
// that a reader could misparse replaced, made unique within their kind.
struct ExportNames {
    std::vector<std::string> columns;  // one per Instance::variables entry
    std::vector<std::string> rows;     // one per Instance::rows entry
    std::vector<std::string> upper_rows;  // the second row of a Range or Crossed row, else ""
    std::string objective;             // distinct from every row name
};

ExportNames make_names(const compiler::Instance& inst);

// One name made safe for both formats (letters, digits, '_' and '.', at most 240
// characters, never starting with a digit, '.', 'e' or 'E', never an LP keyword).
std::string sanitize_name(const std::string& raw);

// The name an export starts from: `x` with index (1, "a") -> `x_1_a`.
std::string raw_name(const std::string& name, const std::vector<compiler::IndexValue>& index);

// Throws std::invalid_argument for an instance no file could represent faithfully:
// a term naming no variable, a NaN or infinite coefficient or constant, a NaN bound,
// or a row side that is infinite on the wrong side (at least +inf, at most -inf).
void validate(const compiler::Instance& inst);

// Both formats hold one objective: a lexicographic one is written as its first goal, with a
// comment saying so. The sentence of that comment, or "" for a model with one objective.
std::string dropped_goals_note(const compiler::Instance& inst);

void write_mps(std::ostream& out, const compiler::Instance& inst, const std::string& problem = "vorlan");
void write_lp(std::ostream& out, const compiler::Instance& inst, const std::string& problem = "vorlan");

std::string mps_text(const compiler::Instance& inst);
std::string lp_text(const compiler::Instance& inst);

// Write to a file through a temporary file renamed over it; std::runtime_error names the path
// when it cannot be written, and a failed write leaves an existing file as it was.
void write_mps_file(const std::filesystem::path& path, const compiler::Instance& inst);
void write_lp_file(const std::filesystem::path& path, const compiler::Instance& inst);

}  // namespace vorlan::solve
