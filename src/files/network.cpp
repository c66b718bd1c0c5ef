#include "files/network.h"

list* network_handle_list = nullptr;
list* connection_list = nullptr;
list* socket_list = nullptr;

void network_lists_create() {
    network_handle_list = list_new(8);
    connection_list = list_new(20);
    socket_list = list_new(20);
}
