#include "memstate.hpp"

namespace qmrtest {

std::unique_ptr<qmr::State> memState(const std::string &deck) {
  auto s = std::make_unique<qmr::State>();
  s->io.con.openMemory("console");
  s->io.u5.openText("VELDA.INP", deck);
  s->io.u6.openMemory("listing");
  s->io.listingOpen = true;
  s->io.u7.openMemory("graphic");
  s->io.u4.openMemory("flux");
  return s;
}

std::unique_ptr<qmr::State> bandChain(int ne) {
  auto s = memState("");
  s->ne = ne;
  s->np = s->nd = ne + 1;
  s->ndofn = 1;
  s->ifullb = 3;
  s->ihalfb = 1;
  s->ihbp = 2;
  return s;
}

std::unique_ptr<qmr::State> flowChain(int ne, double len) {
  auto s = bandChain(ne);
  for (int ie = 1; ie <= ne; ++ie) {
    s->elen(ie) = len;
    s->etran(ie) = 1.0;
    s->ebott(ie) = 1.0;
  }
  for (int ip = 1; ip <= s->np; ++ip) s->ecoord(ip) = (ip - 1) * len;
  s->theta = 1.0;
  s->asign = 1.0;
  s->toler = 0.01;
  s->nitmax = 1;
  s->relax = 1.0;
  s->istep = 1;
  s->nts = 1;
  s->timvec(1) = 1.0;
  s->itprof = 1; // as the observation input leaves it
  s->io.u10.openMemory("velocity");
  return s;
}

void fixHead(qmr::State &s, int node, double head) {
  s.nbt += 1;
  s.idv(s.nbt) = node;
  s.valb(s.nbt) = head;
}

} // namespace qmrtest
