#include "solve/core/export.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "common/replace_file.hpp"

namespace vorlan::solve {

namespace c = vorlan::compiler;

namespace {

constexpr std::size_t kMaxName = 240;

bool is_name_char(unsigned char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
           ch == '.';
}

bool is_lp_keyword(const std::string& s) {
    static const std::array<std::string_view, 32> kw = {
        "st",      "s.t.",     "subject",  "to",      "such",     "that",     "bound",   "bounds",
        "free",    "inf",      "infinity", "end",     "gen",      "general",  "generals", "int",
        "integer", "integers", "bin",      "binary",  "binaries", "semi",     "semis",   "sos",
        "min",     "max",      "minimize", "maximize", "minimum", "maximum",  "minimise", "maximise"};
    std::string low(s);
    for (char& ch : low) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return std::find(kw.begin(), kw.end(), low) != kw.end();
}

// Shortest text that reads back as the same double.
void put_number(std::string& out, double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

std::string number(double v) {
    std::string s;
    put_number(s, v);
    return s;
}

std::string index_part(const c::IndexValue& v) {
    if (auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
    if (auto* d = std::get_if<double>(&v)) return number(*d);
    return std::get<std::string>(v);
}

class UniqueNames {
public:
    std::string take(std::string name) {
        if (used_.insert(name).second) return name;
        for (std::size_t k = 2;; ++k) {
            std::string candidate = name + "_" + std::to_string(k);
            if (used_.insert(candidate).second) return candidate;
        }
    }

private:
    std::unordered_set<std::string> used_;
};

std::invalid_argument bad(const std::string& what) { return std::invalid_argument("cannot export instance: " + what); }

bool finite(double v) { return std::isfinite(v); }

}  // namespace

RowKind row_kind(const c::Row& row) {
    bool lo = row.lower > -c::kInf, hi = row.upper < c::kInf;
    if (!lo && !hi) return RowKind::Free;
    if (lo && hi) {
        if (row.lower == row.upper) return RowKind::Equal;
        return row.lower < row.upper ? RowKind::Range : RowKind::Crossed;
    }
    return lo ? RowKind::Lower : RowKind::Upper;
}

std::string sanitize_name(const std::string& raw) {
    std::string s;
    s.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size() && s.size() < kMaxName; ++i) {
        unsigned char ch = static_cast<unsigned char>(raw[i]);
        if (is_name_char(ch)) {
            s += static_cast<char>(ch);
        } else if (ch < 0x80 || ch >= 0xC0) {
            s += '_';  // one '_' per character: UTF-8 continuation bytes add nothing
        }
    }
    if (s.empty()) return "_";
    unsigned char first = static_cast<unsigned char>(s[0]);
    // A leading digit or '.' reads as a number, a leading e/E as an exponent.
    if ((first >= '0' && first <= '9') || first == '.' || first == 'e' || first == 'E' || is_lp_keyword(s))
        s.insert(s.begin(), '_');
    return s;
}

std::string raw_name(const std::string& name, const std::vector<c::IndexValue>& index) {
    std::string s = name;
    for (const auto& v : index) {
        s += '_';
        s += index_part(v);
    }
    return s;
}

ExportNames make_names(const c::Instance& inst) {
    ExportNames names;
    UniqueNames cols;
    names.columns.reserve(inst.variables.size());
    for (const auto& v : inst.variables) names.columns.push_back(cols.take(sanitize_name(raw_name(v.name, v.index))));

    UniqueNames rows;
    names.objective = rows.take(sanitize_name(inst.objective.label.empty() ? "obj" : inst.objective.label));
    names.rows.reserve(inst.rows.size());
    names.upper_rows.reserve(inst.rows.size());
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        const auto& r = inst.rows[i];
        std::string base = r.label.empty() ? std::string("c").append(std::to_string(i + 1)) : raw_name(r.label, r.index);
        std::string name = rows.take(sanitize_name(base));
        RowKind k = row_kind(r);
        names.upper_rows.push_back(k == RowKind::Range || k == RowKind::Crossed ? rows.take(name + "_hi") : "");
        names.rows.push_back(std::move(name));
    }
    return names;
}

void validate(const c::Instance& inst) {
    const auto n = static_cast<std::int64_t>(inst.variables.size());
    auto check_terms = [&](const std::vector<c::Term>& terms, const std::string& where) {
        for (const auto& t : terms) {
            if (t.var < 0 || t.var >= n)
                throw bad(where + " refers to variable #" + std::to_string(t.var) + " of " + std::to_string(n));
            if (!finite(t.coef)) throw bad(where + " has coefficient " + number(t.coef));
        }
    };
    for (const auto& v : inst.variables)
        if (std::isnan(v.lower) || std::isnan(v.upper)) throw bad("variable " + raw_name(v.name, v.index) + " has a NaN bound");
    check_terms(inst.objective.terms, "the objective");
    if (!finite(inst.objective.constant)) throw bad("the objective has constant " + number(inst.objective.constant));
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        const auto& r = inst.rows[i];
        std::string where = std::string("row ").append(
            r.label.empty() ? std::string("#").append(std::to_string(i + 1)) : raw_name(r.label, r.index));
        check_terms(r.terms, where);
        if (std::isnan(r.lower) || std::isnan(r.upper) || r.lower == c::kInf || r.upper == -c::kInf)
            throw bad(where + " has bounds [" + number(r.lower) + ", " + number(r.upper) + "]");
    }
}

std::string dropped_goals_note(const c::Instance& inst) {
    if (inst.lower_priority.empty()) return "";
    const std::size_t n = inst.lower_priority.size() + 1;
    return "the objective is lexicographic(...) with " + std::to_string(n) + " goals; only goal 1 is written, " +
           (n == 2 ? std::string("goal 2 is") : "goals 2 to " + std::to_string(n) + " are") +
           " not carried by this format";
}

// ---------------------------------------------------------------- MPS (free format)

void write_mps(std::ostream& os, const c::Instance& inst, const std::string& problem) {
    validate(inst);
    const ExportNames names = make_names(inst);
    std::string out;
    out.reserve(64 * (inst.variables.size() + inst.rows.size()));
    out += "NAME " + sanitize_name(problem) + "\n";
    if (!inst.lower_priority.empty()) out += "* " + dropped_goals_note(inst) + "\n";
    if (inst.objective.sense == c::Objective::Sense::Maximize) out += "OBJSENSE\n    MAX\n";

    // Written rows: (name, type, rhs) in order; each instance row maps to one or two.
    struct Written {
        const std::string* name;
        char type;
        double rhs;
    };
    std::vector<Written> written;
    std::vector<std::array<int, 2>> slots(inst.rows.size(), {-1, -1});
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        const auto& r = inst.rows[i];
        auto add = [&](const std::string* nm, char t, double rhs) {
            written.push_back({nm, t, rhs});
            return static_cast<int>(written.size() - 1);
        };
        switch (row_kind(r)) {
            case RowKind::Free: break;
            case RowKind::Equal: slots[i][0] = add(&names.rows[i], 'E', r.lower); break;
            case RowKind::Upper: slots[i][0] = add(&names.rows[i], 'L', r.upper); break;
            case RowKind::Lower:
            case RowKind::Range: slots[i][0] = add(&names.rows[i], 'G', r.lower); break;
            case RowKind::Crossed:
                slots[i][0] = add(&names.rows[i], 'G', r.lower);
                slots[i][1] = add(&names.upper_rows[i], 'L', r.upper);
                break;
        }
    }

    out += "ROWS\n N  " + names.objective + "\n";
    for (const auto& w : written) {
        out += ' ';
        out += w.type;
        out += "  " + *w.name + "\n";
    }

    // Column-major coefficients; -1 stands for the objective row. Repeated entries of
    // one variable in one row are summed so that readers see each pair once.
    std::vector<std::vector<std::pair<int, double>>> cols(inst.variables.size());
    for (const auto& t : inst.objective.terms) cols[t.var].push_back({-1, t.coef});
    for (std::size_t i = 0; i < inst.rows.size(); ++i)
        for (int s : slots[i])
            if (s >= 0)
                for (const auto& t : inst.rows[i].terms) cols[t.var].push_back({s, t.coef});

    out += "COLUMNS\n";
    bool in_int = false;
    for (std::size_t j = 0; j < cols.size(); ++j) {
        bool integer = inst.variables[j].integer;
        if (integer != in_int) {
            out += integer ? "    MARKER  'MARKER'  'INTORG'\n" : "    MARKER  'MARKER'  'INTEND'\n";
            in_int = integer;
        }
        auto& entries = cols[j];
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        bool any = false;
        for (std::size_t k = 0; k < entries.size();) {
            int row = entries[k].first;
            double sum = 0;
            for (; k < entries.size() && entries[k].first == row; ++k) sum += entries[k].second;
            if (sum == 0) continue;
            out += "    " + names.columns[j] + "  " + (row < 0 ? names.objective : *written[row].name) + "  ";
            put_number(out, sum);
            out += '\n';
            any = true;
        }
        // A column with no entry would vanish from the file; a zero keeps it.
        if (!any) out += "    " + names.columns[j] + "  " + names.objective + "  0\n";
    }
    if (in_int) out += "    MARKER  'MARKER'  'INTEND'\n";

    out += "RHS\n";
    if (inst.objective.constant != 0) {
        // Readers take the objective row's right-hand side as the negated constant.
        out += "    RHS  " + names.objective + "  ";
        put_number(out, -inst.objective.constant);
        out += '\n';
    }
    for (const auto& w : written) {
        if (w.rhs == 0) continue;
        out += "    RHS  " + *w.name + "  ";
        put_number(out, w.rhs);
        out += '\n';
    }

    bool ranges = false;
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        if (row_kind(inst.rows[i]) != RowKind::Range) continue;
        if (!ranges) out += "RANGES\n";
        ranges = true;
        out += "    RNG  " + names.rows[i] + "  ";
        put_number(out, inst.rows[i].upper - inst.rows[i].lower);
        out += '\n';
    }

    out += "BOUNDS\n";
    for (std::size_t j = 0; j < inst.variables.size(); ++j) {
        const auto& v = inst.variables[j];
        const std::string& nm = names.columns[j];
        auto bound = [&](const char* type, const double* value) {
            out += std::string(" ") + type + " BND  " + nm;
            if (value) {
                out += "  ";
                put_number(out, *value);
            }
            out += '\n';
        };
        bool lo_inf = v.lower == -c::kInf, hi_inf = v.upper == c::kInf;
        if (lo_inf && hi_inf) {
            bound("FR", nullptr);
        } else if (v.lower == v.upper) {
            bound("FX", &v.lower);
        } else {
            // Lower bounds are spelled out whenever a reader's default could differ:
            // integer columns (some readers default them to binary) and negative upper
            // bounds (some readers then drop the zero lower bound).
            if (lo_inf)
                bound("MI", nullptr);
            else if (v.lower != 0 || v.integer || v.upper < 0)
                bound("LO", &v.lower);
            if (!hi_inf)
                bound("UP", &v.upper);
            else if (v.integer)
                bound("PL", nullptr);
        }
    }
    out += "ENDATA\n";
    os << out;
}

// ---------------------------------------------------------------- LP

namespace {

// Terms with repeated variables summed and zero sums dropped, in order of first use.
class TermMerger {
public:
    explicit TermMerger(std::size_t n) : slot_(n, -1) {}
    const std::vector<c::Term>& merge(const std::vector<c::Term>& terms) {
        merged_.clear();
        for (const auto& t : terms) {
            int& s = slot_[t.var];
            if (s < 0) {
                s = static_cast<int>(merged_.size());
                merged_.push_back(t);
            } else {
                merged_[s].coef += t.coef;
            }
        }
        for (const auto& t : merged_) slot_[t.var] = -1;
        std::erase_if(merged_, [](const c::Term& t) { return t.coef == 0; });
        return merged_;
    }

private:
    std::vector<int> slot_;
    std::vector<c::Term> merged_;
};

class LpLine {
public:
    explicit LpLine(std::string& out) : out_(out) {}
    void word(const std::string& w) {
        if (len_ + w.size() + 1 > kWidth && len_ > 0) {
            out_ += "\n   ";
            len_ = 3;
        }
        out_ += ' ';
        out_ += w;
        len_ += w.size() + 1;
    }
    void terms(const std::vector<c::Term>& terms, const ExportNames& names) {
        for (const auto& t : terms) {
            word(t.coef < 0 ? "-" : "+");
            word(number(std::fabs(t.coef)) + " " + names.columns[t.var]);
        }
    }
    void end() {
        out_ += '\n';
        len_ = 0;
    }

private:
    static constexpr std::size_t kWidth = 200;  // readers limit line length
    std::string& out_;
    std::size_t len_ = 0;
};

}  // namespace

void write_lp(std::ostream& os, const c::Instance& inst, const std::string& problem) {
    validate(inst);
    const ExportNames names = make_names(inst);
    TermMerger merger(inst.variables.size());
    std::string out;
    out += "\\ Problem: " + sanitize_name(problem) + "\n";
    if (!inst.lower_priority.empty()) out += "\\ " + dropped_goals_note(inst) + "\n";
    out += inst.objective.sense == c::Objective::Sense::Maximize ? "Maximize\n" : "Minimize\n";
    {
        LpLine line(out);
        line.word(names.objective + ":");
        line.terms(merger.merge(inst.objective.terms), names);
        if (inst.objective.constant != 0) {
            line.word(inst.objective.constant < 0 ? "-" : "+");
            line.word(number(std::fabs(inst.objective.constant)));
        }
        line.end();
    }

    out += "Subject To\n";
    auto row = [&](const std::string& name, const c::Row& r, const char* op, double rhs) {
        LpLine line(out);
        line.word(name + ":");
        const auto& terms = merger.merge(r.terms);
        if (terms.empty() && !inst.variables.empty())
            line.word("0 " + names.columns[0]);  // some readers need one term
        else
            line.terms(terms, names);
        line.word(op);
        line.word(number(rhs));
        line.end();
    };
    for (std::size_t i = 0; i < inst.rows.size(); ++i) {
        const auto& r = inst.rows[i];
        switch (row_kind(r)) {
            case RowKind::Free: break;
            case RowKind::Equal: row(names.rows[i], r, "=", r.lower); break;
            case RowKind::Upper: row(names.rows[i], r, "<=", r.upper); break;
            case RowKind::Lower: row(names.rows[i], r, ">=", r.lower); break;
            case RowKind::Range:
            case RowKind::Crossed:
                row(names.rows[i], r, ">=", r.lower);
                row(names.upper_rows[i], r, "<=", r.upper);
                break;
        }
    }

    out += "Bounds\n";
    for (std::size_t j = 0; j < inst.variables.size(); ++j) {
        const auto& v = inst.variables[j];
        const std::string& nm = names.columns[j];
        bool lo_inf = v.lower == -c::kInf, hi_inf = v.upper == c::kInf;
        if (lo_inf && hi_inf) {
            out += " " + nm + " free\n";
        } else if (v.lower == v.upper) {
            out += " " + nm + " = " + number(v.lower) + "\n";
        } else if (hi_inf) {
            if (v.lower != 0) out += " " + nm + " >= " + number(v.lower) + "\n";
        } else {
            // Both sides always: a lone negative upper bound is read differently by
            // different readers.
            out += ' ';
            out += lo_inf ? std::string("-inf") : number(v.lower);
            out += " <= " + nm + " <= " + number(v.upper) + "\n";
        }
    }

    bool general = false;
    {
        LpLine line(out);
        for (std::size_t j = 0; j < inst.variables.size(); ++j) {
            if (!inst.variables[j].integer) continue;
            if (!general) out += "General\n";
            general = true;
            line.word(names.columns[j]);
        }
        if (general) line.end();
    }
    out += "End\n";
    os << out;
}

std::string mps_text(const c::Instance& inst) {
    std::ostringstream s;
    write_mps(s, inst);
    return s.str();
}

std::string lp_text(const c::Instance& inst) {
    std::ostringstream s;
    write_lp(s, inst);
    return s.str();
}

void write_mps_file(const std::filesystem::path& path, const c::Instance& inst) {
    files::write_replacing(path, [&](std::ostream& o) { write_mps(o, inst, "vorlan"); });
}

void write_lp_file(const std::filesystem::path& path, const c::Instance& inst) {
    files::write_replacing(path, [&](std::ostream& o) { write_lp(o, inst, "vorlan"); });
}

}  // namespace vorlan::solve
