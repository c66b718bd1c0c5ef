// Network handles: the lists of handles, connections and sockets. No transport is present, so
// opening always fails; only the start-up step is here.
#pragma once

#include "core/list.h"

extern list* network_handle_list;
extern list* connection_list;
extern list* socket_list;

// Start-up: the three lists of network handles (8-byte items), connections and sockets (20).
void network_lists_create();
