#include "memstate.hpp"

namespace qmrtest {

std::unique_ptr<qmr::State> memState(const std::string &deck) {
  auto s = std::make_unique<qmr::State>();
  s->io.console.openMemory("console");
  s->io.deck.openText("VELDA.INP", deck);
  s->io.listing.openMemory("listing");
  s->io.listingOpen = true;
  s->io.graphic.openMemory("graphic");
  s->io.flux.openMemory("flux");
  return s;
}

std::unique_ptr<qmr::State> bandChain(int ne) {
  auto s = memState("");
  s->mesh.ne = ne;
  s->mesh.np = s->mesh.nd = ne + 1;
  s->mesh.ndofn = 1;
  s->band.ifullb = 3;
  s->band.ihalfb = 1;
  s->band.ihbp = 2;
  qmr::sizeArrays(*s);
  return s;
}

std::unique_ptr<qmr::State> flowChain(int ne, double len) {
  auto s = bandChain(ne);
  for (int ie = 1; ie <= ne; ++ie) {
    s->mesh.elen(ie) = len;
    s->fprop.etran(ie) = 1.0;
    s->fprop.ebott(ie) = 1.0;
  }
  for (int ip = 1; ip <= s->mesh.np; ++ip) s->mesh.ecoord(ip) = (ip - 1) * len;
  s->clock.theta = 1.0;
  s->clock.asign = 1.0;
  s->crit.toler = 0.01;
  s->crit.nitmax = 1;
  s->crit.relax = 1.0;
  s->codes.istep = 1;
  s->clock.nts = 1;
  s->clock.timvec(1) = 1.0;
  s->obs.itprof = 1; // as the observation input leaves it
  s->io.velocity.openMemory("velocity");
  return s;
}

void fixHead(qmr::State &s, int node, double head) {
  s.bc.nbt += 1;
  s.bc.idv(s.bc.nbt) = node;
  s.bc.valb(s.bc.nbt) = head;
}

} // namespace qmrtest
