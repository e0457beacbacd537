// The report of a flow step's mass balance in the listing (the balance
// itself: flowbalance.hpp).
#include "drivers/flowbalance.hpp"
#include "io/layout.hpp"

namespace qmr {

namespace {
const Layout kBalance(
    "(/,'           MASS BALANCE COMPUTATION',/,'           ************************',/,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED HEAD NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM PRESCRIBED FLUX NODES = ',E12.5,/,'   MASS ENTERING SYSTEM FROM RECHARGE CONDITION    = ',E12.5,/,'   MASS ENTERING SYSTEM FROM AQUITARD LEAKAGE      = ',E12.5,/,'   MASS INCREASE HELD IN STORAGE                   = ',E12.5,/,/,'   MASS OUT OF BALANCE (MASS IN - MASS INCREASE)   = ',E12.5,/,/)");
} // namespace

void printFlowBalance(Files &io, const FlowBalance &b) {
  write(io.lst(), kBalance,
        {b.head, b.flux, b.recharge, b.leakage, b.storage, b.imbalance});
}

} // namespace qmr
