// Fresh model states whose files live in memory, for the tests of single
// routines.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "state/state.hpp"
#include "stop/stop.hpp"

namespace qmrtest {

// A fresh state (every member zero) with the main input read from `deck`,
// and the console, listing, graphic and flux files collected in memory.
std::unique_ptr<qmr::State> memState(const std::string &deck);

// A fresh state (as memState("")) of a chain of ne elements, ne + 1 nodes,
// one unknown per node, with the band constants of the three-column band
// (full width 3, half width 1, diagonal column 2).
std::unique_ptr<qmr::State> bandChain(int ne);

// A flow step's state built by hand: a chain of ne elements of length len
// (transmissivity 1, base 1, coordinates from 0), fully implicit,
// transient, one step ending at time 1 with one iteration, tolerance 0.01,
// relaxation 1, and the velocity file in memory.
std::unique_ptr<qmr::State> flowChain(int ne, double len);
// Adds a prescribed head at a node.
void fixHead(qmr::State &s, int node, double head);

// Runs `f`, which must end the run; returns the status it ended with.
template <class F> int stopStatus(F &&f) {
  try {
    f();
  } catch (const qmr::StopRun &e) {
    return e.status;
  }
  ADD_FAILURE() << "the run did not end";
  return -1;
}

} // namespace qmrtest
