// Layouts shared by several routines: the records of files that one routine
// writes and another reads, and input records of the same form in several
// sections. Every other layout stands next to the one routine using it.
#pragma once

#include "io/layout.hpp"

namespace qmr {

// Eight floating fields of ten columns (coordinates, times, defaults): inital,
// meshgn, rdarcy, tmstep.
inline const Layout kEightReals("(8F10.0)");
// Nine floating fields of ten columns (one medium): mpropf, mpropt.
inline const Layout kNineReals("(9F10.0)");
// One integer in columns 1-5 of each record: mpropf, mpropt, obsnod.
inline const Layout kOneInt("(I5)");
// A file name, or any record that is read and ignored: meshgn, open1.
inline const Layout kName("(A200)");
// Two floating fields and an integer (generated meshes and time steps): meshgn,
// tmstep.
inline const Layout kTwoRealsInt("(2F10.0,I5)");
// Node, degree of freedom and value (prescribed values and fluxes): pbc,
// pbflow.
inline const Layout kNodeValueRecord("(2I5,F10.0)");
// Echo of a prescribed value or flux: pbc, pbflow.
inline const Layout kNodeValueEcho("(4I10,E17.7)");
// One element record of the velocity file, written by a flow run and read by a
// transport run: velrec, fdarcy, rdarcy.
inline const Layout kVelocityRecord("(I5,4E15.7)");
// One node record of the restart file, written at the end of a run and read by
// a later one: inital, outobs.
inline const Layout kRestartRecord("(I5,2E15.7)");
// One row of the graphic or flux file: flowres, outobs, outpro, tmstep.
inline const Layout kRow("(I10,42(1X,E11.4))");
// Node, coordinate and value in the listing: flowres, drivet, inital.
inline const Layout kNodeLine("(I5,E12.5,5X,E12.5)");
// Heading of the nodal values of a step: flowres, drivet.
inline const Layout kSolutionHead("(/,/,'  SOLUTION VECTOR ASLOD(ID)',/)");
// Heading of one medium's properties: mpropf, mpropt.
inline const Layout kMediumHead(
    "(/,'MATERIAL PROPERTIES FOR MEDIUM ',I1,/,'********************************')");
// A line holding one blank: obsnod, outobs.
inline const Layout kBlankLine("(' ')");

} // namespace qmr
