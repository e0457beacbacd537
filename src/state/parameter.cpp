#include "state/parameter.hpp"

#include <algorithm>
#include <charconv>
#include <fstream>

namespace qmr {

namespace {

using K = ParamKind;

// The deck's parameters, in the order of its sections.
constexpr ParamName kNames[] = {
    {"media[].conductivity", K::Medium, 1, 0, true, false},
    {"media[].specific_storage", K::Medium, 2, 0, true, false},
    {"media[].storativity", K::Medium, 3, 0, true, false},
    {"media[].thickness", K::Medium, 4, 0, true, false},
    {"media[].recharge", K::Medium, 5, 0, true, false},
    {"media[].leakance", K::Medium, 6, 0, true, false},
    {"media[].head_beyond_aquitard", K::Medium, 7, 0, true, false},
    {"media[].width", K::Medium, 8, 8, true, true},
    {"media[].max_leakage", K::Medium, 9, 0, true, false},
    {"media[].dispersivity", K::Medium, 0, 1, false, true},
    {"media[].diffusion", K::Medium, 0, 2, false, true},
    {"media[].porosity", K::Medium, 0, 3, false, true},
    {"media[].retardation", K::Medium, 0, 4, false, true},
    {"media[].decay", K::Medium, 0, 5, false, true},
    {"media[].recharge_concentration", K::Medium, 0, 6, false, true},
    {"media[].aquitard_concentration", K::Medium, 0, 7, false, true},
    {"prescribed_values[].value", K::PrescribedValue, 0, 0, true, true},
    {"prescribed_fluxes[].rate", K::FluxRate, 0, 0, true, false},
    {"prescribed_fluxes[].solute_flux", K::SoluteFlux, 0, 0, false, true},
    {"prescribed_fluxes[].fluid_flux", K::FluidFlux, 0, 0, false, true},
    {"initial_value", K::InitialValue, 0, 0, true, true},
    {"initial_values[].value", K::InitialValues, 0, 0, true, true},
    {"default_velocity", K::DefaultVelocity, 0, 0, false, true},
    {"default_thickness", K::DefaultThickness, 0, 0, false, true},
};

// Edit distance, for the names close to a misspelt one.
std::size_t distance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diag = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min(
          {row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

} // namespace

std::span<const ParamName> parameterNames() { return kNames; }

std::optional<Parameter> parseParameter(std::string_view text,
                                        std::string &why) {
  Parameter p;
  p.path = std::string(text);
  std::string_view rest = text;
  for (std::string_view deck : {"flow.", "transport."})
    if (rest.starts_with(deck)) {
      p.deck = std::string(deck.substr(0, deck.size() - 1));
      rest.remove_prefix(deck.size());
    }
  // The name with its index taken out: "media[2].x" -> "media[].x".
  std::string name;
  const std::size_t open = rest.find('[');
  if (open != std::string_view::npos) {
    const std::size_t close = rest.find(']', open);
    const char *first = rest.data() + open + 1;
    const char *last =
        rest.data() + (close == std::string_view::npos ? rest.size() : close);
    const auto r = std::from_chars(first, last, p.index);
    if (close == std::string_view::npos || r.ptr != last ||
        r.ec != std::errc() || p.index < 1) {
      why = "\"" + std::string(text) +
            "\": an index is a whole number from 1 in brackets, as in "
            "media[1].conductivity";
      return std::nullopt;
    }
    name =
        std::string(rest.substr(0, open + 1)) + std::string(rest.substr(close));
  } else {
    name = std::string(rest);
  }
  for (const ParamName &n : kNames)
    if (n.name == name) {
      const bool indexed = n.name.find("[]") != std::string_view::npos;
      if (indexed != (p.index > 0)) {
        why = "\"" + std::string(text) + "\": " + std::string(n.name) +
              (indexed ? " takes an index" : " takes no index");
        return std::nullopt;
      }
      if ((p.deck == "flow" && !n.flow) ||
          (p.deck == "transport" && !n.transport)) {
        why = "\"" + std::string(text) + "\": a " + p.deck +
              " deck has no such parameter";
        return std::nullopt;
      }
      p.at = &n;
      return p;
    }
  why = "unknown parameter \"" + std::string(text) + "\"";
  std::string close;
  for (const ParamName &n : kNames)
    if (distance(name, n.name) <= 3) {
      std::string s(n.name);
      if (const std::size_t b = s.find("[]"); b != std::string::npos)
        s.insert(b + 1, std::to_string(p.index > 0 ? p.index : 1));
      close += (close.empty() ? "" : ", ") + p.deck +
               (p.deck.empty() ? "" : ".") + s;
    }
  if (!close.empty()) why += "; did you mean " + close + "?";
  return std::nullopt;
}

void ParameterValues::set(const Parameter &p, double v) {
  for (auto &[q, value] : values_)
    if (q.at == p.at && q.index == p.index && q.deck == p.deck) {
      value = v;
      return;
    }
  values_.emplace_back(p, v);
}

std::optional<double> ParameterValues::find(ParamKind k, int index,
                                            int imode) const {
  for (const auto &[p, v] : values_)
    if (p.is(k, index, imode)) return v;
  return std::nullopt;
}

std::optional<double> ParameterValues::medium(int imat, int slot,
                                              int imode) const {
  for (const auto &[p, v] : values_)
    if (p.at->kind == ParamKind::Medium && p.index == imat &&
        p.applies(imode) && p.slot(imode) == slot)
      return v;
  return std::nullopt;
}

namespace {

// The words of each line of a file of parameters ("#" starts a comment;
// blank lines are skipped), handed to take(words, where) with "FILE, line
// N: " for its messages; stops at the first line take refuses.
template <class Take>
bool eachLine(const std::string &path, std::string &why, Take take) {
  std::ifstream in(path);
  if (!in) {
    why = "cannot read the parameter file \"" + path + "\"";
    return false;
  }
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (const std::size_t hash = line.find('#'); hash != std::string::npos)
      line.erase(hash);
    std::vector<std::string> words;
    std::size_t i = 0;
    while ((i = line.find_first_not_of(" \t\r", i)) != std::string::npos) {
      const std::size_t end = line.find_first_of(" \t\r", i);
      words.push_back(line.substr(i, end - i));
      i = end;
    }
    if (!words.empty() &&
        !take(words, path + ", line " + std::to_string(n) + ": "))
      return false;
  }
  return true;
}

} // namespace

bool readParameterFile(const std::string &path, ParameterValues &into,
                       std::string &why) {
  std::vector<std::string> seen;
  return eachLine(path, why, [&](const auto &words, const std::string &where) {
    if (words.size() != 2) {
      why = where + "a line is a path and a value";
      return false;
    }
    const std::string &text = words[1];
    const std::optional<double> v = wholeNumber(text);
    if (!v) {
      why = where + "\"" + text + "\" is not a number";
      return false;
    }
    std::string bad;
    const auto p = parseParameter(words[0], bad);
    if (!p) {
      why = where + bad;
      return false;
    }
    if (std::find(seen.begin(), seen.end(), words[0]) != seen.end()) {
      why = where + words[0] + " is given twice";
      return false;
    }
    seen.push_back(words[0]);
    into.set(*p, *v);
    return true;
  });
}

bool readParameterList(const std::string &path, std::vector<Parameter> &into,
                       std::string &why) {
  return eachLine(path, why, [&](const auto &words, const std::string &where) {
    std::string bad;
    const auto p =
        words.size() == 1 ? parseParameter(words[0], bad) : std::nullopt;
    if (!p) {
      why = where + (words.size() == 1 ? bad : "a line is one path");
      return false;
    }
    into.push_back(*p);
    return true;
  });
}

std::string shortest(double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::optional<double> wholeNumber(std::string_view text) {
  double v = 0.0;
  const char *last = text.data() + text.size();
  const auto r = std::from_chars(text.data(), last, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != last) return std::nullopt;
  return v;
}

} // namespace qmr
