// The update pass. (Not built yet: the pass stays in Connecting.)
#include "core/status_win.h"

void UpdateBody() {}
