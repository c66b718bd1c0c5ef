// Default palettes, the EGA palette and the mode-10 levels.
#pragma once

// Start-up: the 256-entry default palette, the 64 EGA colours and the mode-10 level table.
void palettes_load();
