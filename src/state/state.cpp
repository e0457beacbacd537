#include "state/state.hpp"

#include <algorithm>

namespace qmr {

void sizeArrays(State &s) {
  const int el = std::max(s.mesh.ne, kLegacyEl);
  const int np = std::max(s.mesh.np, kLegacyNp);
  const int ts = std::max(s.clock.nts, kLegacyTs);
  const int mat = std::max(s.media.nmat, kLegacyMat);
  const int bt = std::max(s.bc.nbt, kLegacyBt);
  const int sb = std::max(s.bc.ndf, kLegacySb);
  const int obs = std::max(s.obs.nobs, kLegacyObs);
  const int prof = std::max(s.obs.ntprof, kLegacyProf);

  for (auto *a :
       {&s.fprop.etran, &s.fprop.estor, &s.fprop.eqrch, &s.fprop.espec,
        &s.fprop.ebott, &s.fprop.eleak, &s.fprop.ehfix, &s.fprop.ewide,
        &s.fprop.eqmax, &s.tprop.alfal, &s.tprop.difus, &s.tprop.poros,
        &s.tprop.retar, &s.tprop.decay, &s.tprop.crech, &s.tprop.cleak,
        &s.tprop.qrech, &s.tprop.darcy, &s.tprop.thick, &s.tprop.qleak,
        &s.mesh.xcoord, &s.mesh.elen})
    a->resize(el);
  s.fprop.iqmax.resize(np);
  for (auto *a : {&s.mesh.ecoord, &s.band.aslod, &s.lev.hdold, &s.lev.hdnew})
    a->resize(np);
  s.band.astif.resize(np, kBand);
  // Medium numbers per element, or the zone starts of the media and the end
  // node after the last zone.
  s.media.lmat.resize(std::max(el, mat + 1));
  s.bc.isbv.resize(sb);
  s.bc.bslod.resize(sb);
  s.bc.bslqw.resize(sb);
  s.bc.idv.resize(bt);
  for (auto *a :
       {&s.bc.valb, &s.bc.qvalb, &s.res.qratb, &s.res.accum, &s.res.csvacc})
    a->resize(bt);
  s.res.accu2.resize(bt, ts);
  s.clock.timvec.resize(ts);
  s.media.prop.resize(kSlots, mat);
  s.obs.ldobs.resize(obs);
  s.obs.tlobs.resize(obs);
  s.obs.ltprof.resize(prof);
  s.obs.tprof.resize(prof);
  s.obs.tmprof.resize(prof, np);
}

bool beyondLegacy(const State &s) {
  return s.mesh.ne > kLegacyEl || s.clock.nts > kLegacyTs ||
         s.media.nmat > kLegacyMat || s.bc.nbt > kLegacyBt ||
         s.bc.ndf > kLegacySb || s.obs.nobs > kLegacyObs ||
         s.obs.ntprof > kLegacyProf;
}

} // namespace qmr
