// Chronomancer: the time-keeper, the agent that never acts.
// Its effect on the world comes from staying in its zone, not from its spell.
#include "agents/chronomancer.h"

namespace orv {

bool Chronomancer::CastSpell(std::vector<Charge>&) { return false; }

}  // namespace orv
