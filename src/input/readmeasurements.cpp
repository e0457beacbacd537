// The measured data of --observations FILE, read from the text the command
// line took from the file, checked against the deck (its run type, mesh,
// times and prescribed-value nodes) and placed between nodes and step ends.
// The first fault ends the run before its first step, naming the file and
// the line.
//
// The file is CSV with a header line: `name`, `x` or `node`, `time`,
// `value`, and optionally `sd`, `group`, `kind`; other columns are ignored.
// A field may be quoted ("..." with "" for a quote); blank lines are
// skipped.
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/input.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

// A fault of one line (or of the file when line is 0), of the
// observation `row` (0: the header).
struct Fault {
  int line;
  std::string why;
  std::size_t row = 0;
};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The fields of one line; a field in double quotes may hold commas.
std::optional<std::vector<std::string>> fields(std::string_view line) {
  std::vector<std::string> out;
  std::size_t i = 0;
  for (;;) {
    std::string f;
    std::string_view rest = line.substr(i);
    const std::size_t lead = rest.find_first_not_of(" \t");
    if (lead != std::string_view::npos && rest[lead] == '"') {
      i += lead + 1;
      for (;;) {
        if (i >= line.size()) return std::nullopt; // no closing quote
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            f += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        f += line[i++];
      }
      const std::size_t comma = line.find(',', i);
      if (!trim(line.substr(i, comma == std::string_view::npos
                                   ? std::string_view::npos
                                   : comma - i))
               .empty())
        return std::nullopt; // text after the closing quote
      out.push_back(f);
      if (comma == std::string_view::npos) return out;
      i = comma + 1;
    } else {
      const std::size_t comma = line.find(',', i);
      out.emplace_back(trim(line.substr(i, comma == std::string_view::npos
                                               ? std::string_view::npos
                                               : comma - i)));
      if (comma == std::string_view::npos) return out;
      i = comma + 1;
    }
  }
}

std::optional<double> number(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  const std::optional<double> v = wholeNumber(text);
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

// A name or group is written back unquoted: no comma, quote or control
// character.
bool plain(const std::string &text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    return c == ',' || c == '"' || static_cast<unsigned char>(c) < 0x20;
  });
}

class Reader {
public:
  Reader(const Codes &codes, const Mesh &mesh, const Clock &clock,
         const Prescribed<double> &bc)
      : codes_(codes), mesh_(mesh), clock_(clock), bc_(bc) {}

  std::optional<Fault> read(std::string_view text, Measurements &meas) {
    if (codes_.imode != kFlowRun && codes_.imode != kTransportRun)
      return Fault{0, "the deck makes no flow or transport run"};
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    int n = 0;
    std::size_t at = 0;
    bool header = true;
    std::map<std::string, int> names; // name -> line
    while (at < text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      const std::string_view line = text.substr(at, end - at);
      at = end + 1;
      ++n;
      if (trim(line).empty()) continue;
      const auto f = fields(line);
      if (!f) return Fault{n, "a quoted field is not closed"};
      if (header) {
        if (auto why = columns(*f)) return Fault{n, *why};
        header = false;
        continue;
      }
      Measured m;
      m.line = n;
      const std::size_t k = meas.rows.size() + 1;
      if (auto why = row(*f, m)) return Fault{n, *why, k};
      if (const auto [it, fresh] = names.emplace(m.name, n); !fresh)
        return Fault{n,
                     "the name " + m.name + " is given twice (line " +
                         std::to_string(it->second) + ")",
                     k};
      meas.rows.push_back(m);
    }
    if (header) return Fault{0, "the file has no header line"};
    for (const Measured &m : meas.rows)
      if (m.kind != MeasuredKind::Flux)
        for (int node : {m.n0, m.n1})
          if (std::find(meas.nodes.begin(), meas.nodes.end(), node) ==
              meas.nodes.end())
            meas.nodes.push_back(node);
    std::sort(meas.nodes.begin(), meas.nodes.end());
    return std::nullopt;
  }

private:
  std::optional<std::string> columns(const std::vector<std::string> &f) {
    for (std::size_t i = 0; i < f.size(); ++i) {
      for (auto [name, col] : {std::pair{"name", &name_},
                               {"x", &x_},
                               {"node", &node_},
                               {"time", &time_},
                               {"value", &value_},
                               {"sd", &sd_},
                               {"group", &group_},
                               {"kind", &kind_}})
        if (f[i] == name) {
          if (*col >= 0) return "the column " + f[i] + " is given twice";
          *col = static_cast<int>(i);
        }
    }
    const bool steady = codes_.isstat == 1;
    for (auto [name, col] : {std::pair{"name", name_}, {"value", value_}})
      if (col < 0) return std::string("the header has no column ") + name;
    if (x_ < 0 && node_ < 0) return "the header has no column x or node";
    if (time_ < 0 && !steady) return "the header has no column time";
    width_ = static_cast<std::size_t>(std::max(
                 {name_, x_, node_, time_, value_, sd_, group_, kind_})) +
             1;
    return std::nullopt;
  }

  std::string field(const std::vector<std::string> &f, int col) const {
    return col >= 0 ? f[static_cast<std::size_t>(col)] : std::string();
  }

  std::optional<std::string> row(const std::vector<std::string> &f,
                                 Measured &m) {
    if (f.size() < width_)
      return "the line has " + std::to_string(f.size()) +
             " fields, the header " + std::to_string(width_) + " or more";
    m.name = field(f, name_);
    if (m.name.empty()) return "the name is empty";
    if (!plain(m.name))
      return "the name \"" + m.name +
             "\" holds a comma, a quote or a control "
             "character";
    if (auto why = kind(field(f, kind_), m)) return why;
    m.group = field(f, group_);
    if (m.group.empty()) m.group = kindName(m.kind);
    if (!plain(m.group))
      return "the group \"" + m.group +
             "\" holds a comma, a quote or a "
             "control character";
    const std::string value = field(f, value_);
    const auto v = number(value);
    if (!v) return "the value \"" + value + "\" is not a finite number";
    m.value = *v;
    if (const std::string sd = field(f, sd_); !sd.empty()) {
      const auto d = number(sd);
      if (!d || *d <= 0.0)
        return "the standard deviation \"" + sd +
               "\" is not a number greater than 0";
      m.weight = 1.0 / *d;
    }
    if (auto why = where(field(f, x_), field(f, node_), m)) return why;
    return when(field(f, time_), m);
  }

  std::optional<std::string> kind(const std::string &text, Measured &m) {
    const bool flow = codes_.imode == kFlowRun;
    const std::string run = flow ? "flow" : "transport";
    if (text.empty())
      m.kind = flow ? MeasuredKind::Head : MeasuredKind::Concentration;
    else if (text == "head" || text == "drawdown") {
      if (!flow) return "a " + run + " run has no kind " + text;
      m.kind = text == "head" ? MeasuredKind::Head : MeasuredKind::Drawdown;
    } else if (text == "concentration") {
      if (flow) return "a " + run + " run has no kind " + text;
      m.kind = MeasuredKind::Concentration;
    } else if (text == "flux") {
      m.kind = MeasuredKind::Flux;
    } else {
      return "the kind \"" + text + "\" is none of " +
             (flow ? "head, drawdown, flux" : "concentration, flux");
    }
    return std::nullopt;
  }

  // The nodes on either side of x, or the node named.
  std::optional<std::string> where(const std::string &x,
                                   const std::string &node, Measured &m) {
    if (!x.empty() && !node.empty()) return "both x and node are given";
    if (x.empty() && node.empty()) return "neither x nor node is given";
    if (!node.empty()) {
      const auto v = number(node);
      if (!v || *v != std::floor(*v) || *v < 1.0 || *v > mesh_.np)
        return "the node \"" + node + "\" is no node of the mesh (1 to " +
               std::to_string(mesh_.np) + ")";
      m.node = m.n0 = m.n1 = static_cast<int>(*v);
      m.x = mesh_.ecoord(m.node);
      if (m.kind != MeasuredKind::Flux) return std::nullopt;
      for (int k = 1; k <= bc_.nbt; ++k)
        if (bc_.idv(k) == m.node) {
          m.ibt = k;
          return std::nullopt;
        }
      return "node " + node +
             " is not a prescribed-value node (a flux is "
             "the rate at one)";
    }
    if (m.kind == MeasuredKind::Flux)
      return "a flux names its prescribed-value node in the node column";
    const auto v = number(x);
    if (!v) return "x \"" + x + "\" is not a finite number";
    m.x = *v;
    for (int ip = 1; ip <= mesh_.np; ++ip)
      if (mesh_.ecoord(ip) == m.x) {
        m.n0 = m.n1 = ip;
        return std::nullopt;
      }
    for (int ie = 1; ie <= mesh_.ne; ++ie) {
      const double a = mesh_.ecoord(ie), b = mesh_.ecoord(ie + 1);
      if ((a < m.x && m.x < b) || (b < m.x && m.x < a)) {
        m.n0 = ie;
        m.n1 = ie + 1;
        m.wx = (m.x - a) / (b - a);
        return std::nullopt;
      }
    }
    return "x = " + shortest(m.x) + " is outside the mesh (" +
           shortest(mesh_.ecoord(1)) + " to " +
           shortest(mesh_.ecoord(mesh_.np)) + ")";
  }

  // The step ends on either side of the time. A steady run's one solution
  // holds at any time of its span (an empty time: the step's end). A flux
  // is a rate of a step: the first step's holds from the start.
  std::optional<std::string> when(const std::string &time, Measured &m) {
    const double end = clock_.timvec(clock_.nts);
    const std::string span = "the run's span (" + shortest(clock_.tima) +
                             " to " + shortest(end) + ")";
    if (time.empty() && codes_.isstat == 1) {
      m.time = end;
      m.s0 = m.s1 = 1;
      return std::nullopt;
    }
    const auto v = number(time);
    if (!v) return "the time \"" + time + "\" is not a finite number";
    m.time = *v;
    const double t = m.time;
    if (codes_.isstat == 1) {
      if (t < clock_.tima || t > end)
        return "the time " + shortest(t) + " is outside " + span;
      m.s0 = m.s1 = 1;
      return std::nullopt;
    }
    bool found = t == clock_.tima;
    for (int its = 1; its <= clock_.nts && !found; ++its) {
      const double a = its == 1 ? clock_.tima : clock_.timvec(its - 1);
      const double b = clock_.timvec(its);
      if (t == b) {
        m.s0 = m.s1 = its;
        found = true;
      } else if ((a < t && t < b) || (b < t && t < a)) {
        m.s0 = its - 1;
        m.s1 = its;
        m.wt = (t - a) / (b - a);
        found = true;
      }
    }
    if (!found) return "the time " + shortest(t) + " is outside " + span;
    if (m.kind == MeasuredKind::Flux && m.s0 == 0) {
      m.s0 = m.s1 = 1;
      m.wt = 0.0;
    }
    return std::nullopt;
  }

  const Codes &codes_;
  const Mesh &mesh_;
  const Clock &clock_;
  const Prescribed<double> &bc_;
  int name_ = -1, x_ = -1, node_ = -1, time_ = -1, value_ = -1, sd_ = -1,
      group_ = -1, kind_ = -1;
  std::size_t width_ = 0; // fields a line needs
};

} // namespace

void readMeasurements(Files &io, const Options &opt, const Codes &codes,
                      const Mesh &mesh, const Clock &clock,
                      const Prescribed<double> &bc, Measurements &meas) {
  Reader reader(codes, mesh, clock, bc);
  const auto fault = reader.read(opt.observationsText, meas);
  if (!fault) return;
  std::string where = "--observations " + opt.observations + ", ";
  if (fault->line > 0) {
    where += "line " + std::to_string(fault->line);
    if (fault->row > 0)
      where += " (observation " + std::to_string(fault->row) + ")";
    where += ": ";
  }
  fail(io, where + fault->why, kObservationFailure);
}

} // namespace qmr
