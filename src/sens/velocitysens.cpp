#include "sens/velocitysens.hpp"

#include <fstream>
#include <optional>

#include "stop/stop.hpp"

namespace qmr {

std::string withoutFlow(const std::string &path) {
  return path.starts_with("flow.") ? path.substr(5) : path;
}

VelocityDerivatives readVelocityDerivatives(Files &io, const std::string &name,
                                            const std::vector<Parameter> &ps,
                                            int ne) {
  VelocityDerivatives vd;
  std::ifstream in(name);
  std::string line;
  if (!in || !std::getline(in, line) || line != kVelocityHeader)
    fail(io,
         "cannot read the derivatives of the velocity file from \"" + name +
             "\": run the flow run with --sensitivity first",
         kParameterFailure);
  std::map<std::string, int> lastStep;
  for (long n = 2; std::getline(in, line); ++n) {
    std::vector<std::string> f(1);
    for (char c : line) {
      if (c == ',')
        f.emplace_back();
      else
        f.back().push_back(c);
    }
    double v[6] = {};
    bool ok = f.size() == 7;
    for (std::size_t i = 1; ok && i < 7; ++i) {
      const std::optional<double> x = wholeNumber(f[i]);
      ok = x.has_value();
      if (ok) v[i - 1] = *x;
    }
    if (!ok)
      fail(io,
           name + ", line " + std::to_string(n) + ": not a record of " +
               kVelocityHeader,
           kParameterFailure);
    auto &bs = vd.blocks[withoutFlow(f[0])];
    const int step = static_cast<int>(v[0]);
    auto last = lastStep.find(f[0]);
    if (last == lastStep.end() || last->second != step) {
      bs.emplace_back(static_cast<std::size_t>(ne), std::array<double, 4>{});
      lastStep[f[0]] = step;
    }
    const int ie = static_cast<int>(v[1]);
    if (ie >= 1 && ie <= ne)
      bs.back()[static_cast<std::size_t>(ie - 1)] = {v[2], v[3], v[4], v[5]};
  }
  for (const Parameter &p : ps)
    if (p.deck == "flow" && !vd.blocks.contains(withoutFlow(p.path)))
      fail(io, name + " holds no derivatives with respect to " + p.path,
           kParameterFailure);
  return vd;
}

} // namespace qmr
