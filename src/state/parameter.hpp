// Parameters of a deck named by path, as the command line (--set,
// --parameters, --sensitivity) and the Python deck objects name them:
// "media[2].conductivity", "prescribed_values[1].value", "initial_value";
// numbered as in the deck, from 1. A path may start with the deck's run
// type ("flow." or "transport."), as the paths of a chain do.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qmr {

// What a path names.
enum class ParamKind {
  Medium,           // media[i].NAME: a slot of a medium record
  DefaultVelocity,  // default_velocity (transport, no velocity file)
  DefaultThickness, // default_thickness
  PrescribedValue,  // prescribed_values[k].value
  FluxRate,         // prescribed_fluxes[k].rate (flow)
  SoluteFlux,       // prescribed_fluxes[k].solute_flux (transport)
  FluidFlux,        // prescribed_fluxes[k].fluid_flux (transport)
  InitialValue,     // initial_value (no restart file)
  InitialValues,    // initial_values[k].value
};

// One name of the list, with "[]" where the path takes an index.
struct ParamName {
  std::string_view name; // "media[].conductivity"
  ParamKind kind;
  int flowSlot;      // slot of a flow medium record (1..9), 0: not flow
  int transportSlot; // slot of a transport medium record (1..8)
  bool flow;         // the name exists in a flow deck
  bool transport;    // ... in a transport deck
};

// Every name a path may take, in the order of the deck.
std::span<const ParamName> parameterNames();

// A path as parsed.
struct Parameter {
  std::string path;    // as given
  std::string deck;    // "flow", "transport", or "" when not prefixed
  const ParamName *at; // its name
  int index = 0;       // the medium, value, flux or initial value (from 1)

  // True when it names this value of a deck of run type imode (1 flow, 2
  // transport).
  bool is(ParamKind k, int i, int imode) const {
    return at->kind == k && index == i && applies(imode);
  }
  bool applies(int imode) const {
    return imode == 1 ? at->flow : at->transport;
  }
  // The medium slot this path names in a deck of run type imode (0: none).
  int slot(int imode) const {
    return imode == 1 ? at->flowSlot : at->transportSlot;
  }
};

// Parses a path; on failure returns nothing and says why (with the names
// that come close to a misspelt one).
std::optional<Parameter> parseParameter(std::string_view text,
                                        std::string &why);

// Values given to parameters on the command line, at full precision.
class ParameterValues {
public:
  // Adds (or, from --set over a file, replaces) a value; a path the file
  // gives twice is refused by the reader of the file.
  void set(const Parameter &p, double v);
  bool empty() const { return values_.empty(); }
  const std::vector<std::pair<Parameter, double>> &all() const {
    return values_;
  }
  // The value set for this value of the deck, if any.
  std::optional<double> find(ParamKind k, int index, int imode) const;
  // The medium slot's value, if set.
  std::optional<double> medium(int imat, int slot, int imode) const;

private:
  std::vector<std::pair<Parameter, double>> values_;
};

// Reads a parameter file (lines "PATH VALUE", "#" comments, blank lines);
// returns false and says why (file and line) on the first fault.
bool readParameterFile(const std::string &path, ParameterValues &into,
                       std::string &why);

// Reads a file of paths, one a line ("#" comments, blank lines); returns
// false and says why (file and line) on the first fault.
bool readParameterList(const std::string &path, std::vector<Parameter> &into,
                       std::string &why);

// The shortest text of a double that reads back to it.
std::string shortest(double v);

// The double a whole text writes (as C++ and Python write them: 1e-05,
// 3.0, inf), correctly rounded; nothing when the text is empty or holds
// anything more.
std::optional<double> wholeNumber(std::string_view text);

} // namespace qmr
