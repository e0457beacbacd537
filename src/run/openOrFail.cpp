#include "run/run.hpp"

namespace qmr {

// Opens a file named by the deck; one that cannot be opened or created ends
// the run with a report naming the file and the reason.
void openOrFail(Unit &u, const std::string &deckName, const char *what,
                bool (Unit::*how)(const std::string &)) {
  const std::string path = resolvePath(deckName);
  if (path.empty())
    throw FileFault(std::string("the ") + what + " has no name in the deck");
  if (!(u.*how)(path))
    throw FileFault(std::string("cannot open the ") + what + " \"" + path +
                    "\": " + u.why());
}

} // namespace qmr
