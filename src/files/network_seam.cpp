#include "files/network_seam.h"

file_network_seams file_network{};
