#include <memory>

#include "run/run.hpp"

// qmr takes no arguments: it reads VELDA.INP in the working folder.
int main() {
  const qmr::ConsoleSetUp console;
  auto s = std::make_unique<qmr::State>();
  return qmr::runMain(*s);
}
