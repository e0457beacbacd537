// Shared test helpers: decks built in code, memory-backed states, whole
// runs of the program, and the operating system behind them.
#pragma once

#include "deck.hpp"
#include "memstate.hpp"
#include "system.hpp"
#include "wholerun.hpp"
