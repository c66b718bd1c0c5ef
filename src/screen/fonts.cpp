#include "screen/fonts.h"

// The font table comes with the fonts.
void font_metrics_init() {}
