// The font table and the built-in fonts 8, 14 and 16 with their double-width forms 9, 15, 17.
#pragma once

// Start-up: heights and advance widths of the built-in fonts.
void font_metrics_init();
