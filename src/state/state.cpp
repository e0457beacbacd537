#include "state/state.hpp"

#include <algorithm>

namespace qmr {

void sizeArrays(State &s) {
  const int el = std::max(s.ne, kLegacyEl);
  const int np = std::max(s.np, kLegacyNp);
  const int ts = std::max(s.nts, kLegacyTs);
  const int mat = std::max(s.nmat, kLegacyMat);
  const int bt = std::max(s.nbt, kLegacyBt);
  const int sb = std::max(s.ndf, kLegacySb);
  const int obs = std::max(s.nobs, kLegacyObs);
  const int prof = std::max(s.ntprof, kLegacyProf);

  for (auto *a : {&s.etran, &s.estor, &s.eqrch,  &s.espec, &s.ebott, &s.eleak,
                  &s.ehfix, &s.ewide, &s.eqmax,  &s.alfal, &s.difus, &s.poros,
                  &s.retar, &s.decay, &s.crech,  &s.cleak, &s.qrech, &s.darcy,
                  &s.thick, &s.qleak, &s.xcoord, &s.elen})
    a->resize(el);
  s.iqmax.resize(np);
  for (auto *a : {&s.ecoord, &s.aslod, &s.hdold, &s.hdnew}) a->resize(np);
  s.astif.resize(np, kBand);
  // Medium numbers per element, or the zone starts of the media and the end
  // node after the last zone.
  s.lmat.resize(std::max(el, mat + 1));
  s.isbv.resize(sb);
  s.bslod.resize(sb);
  s.bslqw.resize(sb);
  s.idv.resize(bt);
  for (auto *a : {&s.valb, &s.qvalb, &s.qratb, &s.accum, &s.csvacc})
    a->resize(bt);
  s.accu2.resize(bt, ts);
  s.timvec.resize(ts);
  s.prop.resize(kSlots, mat);
  s.ldobs.resize(obs);
  s.tlobs.resize(obs);
  s.ltprof.resize(prof);
  s.tprof.resize(prof);
  s.tmprof.resize(prof, np);
}

bool beyondLegacy(const State &s) {
  return s.ne > kLegacyEl || s.nts > kLegacyTs || s.nmat > kLegacyMat ||
         s.nbt > kLegacyBt || s.ndf > kLegacySb || s.nobs > kLegacyObs ||
         s.ntprof > kLegacyProf;
}

} // namespace qmr
