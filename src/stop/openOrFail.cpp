#include <filesystem>

#include "stop/stop.hpp"

namespace qmr {

// Opens a file named by the deck; one that cannot be opened or created ends
// the run with a report naming the file and the reason. A file that is
// already open as one of `distinct` is refused before anything is opened:
// writing it would destroy the deck or mix two outputs in one file.
void openOrFail(Unit &u, const std::string &deckName, const char *what,
                bool (Unit::*how)(const std::string &),
                std::initializer_list<const Unit *> distinct) {
  const std::string path = resolvePath(deckName);
  if (path.empty())
    throw FileFault(std::string("the ") + what + " has no name in the deck");
  std::error_code ec;
  if (std::filesystem::is_regular_file(path, ec)) {
    for (const Unit *other : distinct) {
      if (!other->isOpen() || other->path().empty()) continue;
      if (std::filesystem::equivalent(path, other->path(), ec) && !ec)
        throw FileFault(std::string("cannot open the ") + what + " \"" + path +
                        "\": it is the same file as the " + other->role() +
                        " \"" + other->path() + "\"");
    }
  }
  if (!(u.*how)(path))
    throw FileFault(std::string("cannot open the ") + what + " \"" + path +
                    "\": " + u.why());
  u.setRole(what);
}

} // namespace qmr
