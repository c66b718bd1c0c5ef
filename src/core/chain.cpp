#include "core/chain.h"

void chain_receive() {}
