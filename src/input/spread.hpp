// The media spread over the elements, on any number type: the values of a
// medium given to its elements (per element, by zones, or interpolated
// between control nodes), then the extensive values made values per metre
// of valley. The program spreads its doubles; a derivative of a medium's
// value follows the same assignment.
#pragma once

#include "fem/scalar.hpp"
#include "state/state.hpp"

namespace qmr {

// A medium table in the number type T: table(slot, medium).
template <class T> using MediumTable = Arr2<T, kSlots, kLegacyMat>;

// Gives the elements the N slot values of the media of `table`, by the
// scheme of ipcode; assign(le, v) stores the values v[0..N-1] for element
// le.
template <int N, class T, class Assign>
void assignMedia(const Codes &codes, const Mesh &mesh, const Media &media,
                 const MediumTable<T> &table, Assign assign) {
  T v[N];
  auto slots = [&table](int imat, T *to) {
    for (int k = 1; k <= N; ++k) to[k - 1] = table(k, imat);
  };
  if (codes.ipcode == 0) {
    for (int ie = 1; ie <= mesh.ne; ++ie) {
      slots(media.lmat(ie), v);
      assign(ie, v);
    }
  } else if (codes.ipcode == 1) {
    for (int imat = 1; imat <= media.nmat; ++imat) {
      const int l1 = media.lmat(imat);
      const int l2 = media.lmat(imat + 1) - 1;
      slots(imat, v);
      for (int le = l1; le <= l2; ++le) assign(le, v);
    }
  } else if (codes.ipcode == 2) {
    T e1[N], e2[N];
    for (int imat = 1; imat <= media.nmat - 1; ++imat) {
      const int imt1 = imat;
      const int imt2 = imat + 1;
      slots(imt1, e1);
      slots(imt2, e2);
      const int l1 = media.lmat(imt1);
      const int l2 = media.lmat(imt2) - 1;
      const int l3 = l2 + 1;
      const double x1 = mesh.ecoord(l1);
      const double dx = mesh.ecoord(l3) - x1;
      for (int le = l1; le <= l2; ++le) {
        const double xe = mesh.xcoord(le);
        const double xf = (xe - x1) / dx;
        for (int k = 0; k < N; ++k) v[k] = e2[k] * xf + (1.0 - xf) * e1[k];
        assign(le, v);
      }
    }
  }
}

// The nine flow values of element le from slots 1..9.
template <class T> void assignFlow(FlowProperties<T> &p, int le, const T *v) {
  p.etran(le) = v[0];
  p.espec(le) = v[1];
  p.estor(le) = v[2];
  p.ebott(le) = v[3];
  p.eqrch(le) = v[4];
  p.eleak(le) = v[5];
  p.ehfix(le) = v[6];
  p.ewide(le) = v[7];
  p.eqmax(le) = v[8];
}

// The eight transport values of element le from slots 1..8 (the width
// goes to the flow properties, where the default velocity finds it).
template <class T>
void assignTransport(TransportProperties<T> &t, FlowProperties<T> &p, int le,
                     const T *v) {
  t.alfal(le) = v[0];
  t.difus(le) = v[1];
  t.poros(le) = v[2];
  t.retar(le) = v[3];
  t.decay(le) = v[4];
  t.crech(le) = v[5];
  t.cleak(le) = v[6];
  p.ewide(le) = v[7];
}

// Leakage limit per element, then the extensive values times the width.
template <class T>
void scaleFlowElements(const Mesh &mesh, FlowProperties<T> &p) {
  const double kTiny = static_cast<double>(1.0E-10F); // zero width, eqmax
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    p.iqmax(ie) = 0;
    if (value(p.eqmax(ie)) > kTiny) p.iqmax(ie) = 1;
    if (value(p.eqmax(ie)) < kTiny) p.eqmax(ie) = p.etran(ie);
    const T elwide = p.ewide(ie);
    p.etran(ie) = p.etran(ie) * elwide;
    p.espec(ie) = p.espec(ie) * elwide;
    p.estor(ie) = p.estor(ie) * elwide;
    p.eqrch(ie) = p.eqrch(ie) * elwide;
    p.eleak(ie) = p.eleak(ie) * elwide;
    p.eqmax(ie) = p.eqmax(ie) * elwide;
  }
}

// The porosity times the width.
template <class T>
void scaleTransportElements(const Mesh &mesh, const FlowProperties<T> &p,
                            TransportProperties<T> &t) {
  for (int ie = 1; ie <= mesh.ne; ++ie) t.poros(ie) = t.poros(ie) * p.ewide(ie);
}

// One default velocity (per unit width) and thickness for every element.
template <class T>
void defaultVelocities(const Mesh &mesh, const T &edarcy, const T &ethick,
                       const FlowProperties<T> &p, TransportProperties<T> &t) {
  for (int ie = 1; ie <= mesh.ne; ++ie) {
    t.darcy(ie) = edarcy * p.ewide(ie);
    t.thick(ie) = ethick;
    t.qleak(ie) = 0.0;
    t.qrech(ie) = 0.0;
  }
}

} // namespace qmr
