// Network handles: no transport is present, so opening always fails.
#pragma once

#include "core/list.h"

extern list* network_handle_list;
extern list* connection_list;
extern list* socket_list;

// Start-up: the three lists of network handles (8-byte items), connections and sockets (20).
void network_lists_create();
