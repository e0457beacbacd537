// The parameters named on the command line (--set, --parameters,
// --sensitivity) against the deck, once its counts and codes are known:
// each must name a value this deck has. The values set are listed in one
// line of the listing.
#include <string>
#include <string_view>

#include "input/input.hpp"
#include "stop/stop.hpp"

namespace qmr {

namespace {

// Why the path names nothing in this deck; empty when it does. A transport
// run that reads a velocity file takes the derivatives of its velocities
// with respect to a flow parameter ("flow.PATH") from the flow run.
std::string absent(const Parameter &p, const Codes &codes, int nmat, int nbt,
                   int ndf, bool sensitivity) {
  const char *type = codes.imode == kFlowRun ? "flow" : "transport";
  if (sensitivity && codes.imode == kTransportRun && p.deck == "flow")
    return codes.iodarc > 0 ? ""
                            : "a transport run without a velocity file "
                              "depends on no flow parameter";
  if (!p.deck.empty() && p.deck != type)
    return std::string("the deck is a ") + type + " deck";
  if (!p.applies(codes.imode))
    return std::string("a ") + type + " deck has no such parameter";
  auto beyond = [&p](int n, const char *what) {
    return p.index > n ? "the deck has " + std::to_string(n) + " " + what
                       : std::string();
  };
  switch (p.at->kind) {
  case ParamKind::Medium:
    return beyond(nmat, "media");
  case ParamKind::PrescribedValue:
    return beyond(nbt, "prescribed values");
  case ParamKind::FluxRate:
  case ParamKind::SoluteFlux:
  case ParamKind::FluidFlux:
    return beyond(ndf, "prescribed fluxes");
  case ParamKind::InitialValues:
    return beyond(codes.nonu, "non-uniform initial values");
  case ParamKind::InitialValue:
    return codes.ioread == 1 ? "the initial values come from the restart file"
                             : "";
  case ParamKind::DefaultVelocity:
  case ParamKind::DefaultThickness:
    return codes.iodarc > 0 ? "the velocities come from the velocity file" : "";
  }
  return "";
}

} // namespace

void checkParameters(Files &io, const Options &opt, const Codes &codes,
                     int nmat, int nbt, int ndf) {
  auto check = [&](const Parameter &p, const char *option) {
    const std::string why = absent(p, codes, nmat, nbt, ndf,
                                   std::string_view(option) == "--sensitivity");
    if (!why.empty())
      fail(io, std::string(option) + " " + p.path + ": " + why,
           kParameterFailure);
  };
  for (const auto &[p, v] : opt.values.all()) check(p, "--set");
  for (const Parameter &p : opt.sensitivity) check(p, "--sensitivity");
}

void listValuesSet(Files &io, const ParameterValues &values) {
  if (values.empty()) return;
  std::string line = "VALUES SET ON THE COMMAND LINE:";
  const char *sep = " ";
  for (const auto &[p, v] : values.all()) {
    line += sep + p.path + " = " + shortest(v);
    sep = ", ";
  }
  writeFree(io.lst(), {line});
}

} // namespace qmr
