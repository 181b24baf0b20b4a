// The style questions of the plot options menu: background, frame, text,
// series-line and curve colours, curve line style and width. Each question
// shows its table, reads one integer and changes the plot state; the new
// style takes effect at the next drawing of the page.
#pragma once

#include <cstdint>

#include "plot/rcsplt.h"

namespace kavrel {

// Asks the question of menu option 1..7 and stores the answer in state.
// Other option numbers do nothing. Ranges named in the prompts are not
// enforced here; PLplot reports colour indices and styles it cannot use.
void arspltstyle(PlotState& state, Console& console, int32_t option);

}  // namespace kavrel
