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
  const bool regular = std::filesystem::is_regular_file(path, ec);
  // A run that only checks its deck makes no file: two outputs of one name
  // are then told by their names.
  const bool missing = !std::filesystem::exists(path, ec) && !ec;
  for (const Unit *other : distinct) {
    if (!other->isOpen() || other->path().empty()) continue;
    bool same = false;
    if (regular) {
      same = std::filesystem::equivalent(path, other->path(), ec) && !ec;
    } else if (missing) {
      std::error_code e1, e2;
      const auto a = std::filesystem::weakly_canonical(path, e1);
      const auto b = std::filesystem::weakly_canonical(other->path(), e2);
      same = !e1 && !e2 && a == b;
    }
    if (same)
      throw FileFault(std::string("cannot open the ") + what + " \"" + path +
                      "\": it is the same file as the " + other->role() +
                      " \"" + other->path() + "\"");
  }
  if (!(u.*how)(path))
    throw FileFault(std::string("cannot open the ") + what + " \"" + path +
                    "\": " + u.why());
  u.setRole(what);
}

} // namespace qmr
