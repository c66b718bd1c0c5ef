// Network handles: the pools of handle rows, connection records and socket rows, the address
// grammar "TCP/IP:port[:host]", the statements on negative handles (open, address, connection test,
// and through the file layer's seam close, get, put, length and end of file) and the public-address
// query. The socket transport is absent: connect, listen and accept answer no socket, so every open
// answers 0 and the query answers the empty text; tests put a transport of their own under it.
// Not here: the file statements themselves (file_open.h, random_access.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/list.h"

struct string_descriptor;

// What the transport makes: one socket.
struct socket_object {
    int32_t port;
    uint8_t address[4];     // IPv4, in printed order
    std::string host_name;  // a client's host
};

enum : uint8_t {
    network_row_stream = 1,  // a client or accepted connection
    network_row_host = 2,    // a listening host
    socket_protocol_tcp_ip = 1,
    socket_kind_client = 1,
    socket_kind_host = 2,
    socket_kind_accepted = 3,
};

struct socket_row {
    uint8_t protocol;
    uint8_t kind;
    socket_object* object;
    int32_t port;  // the port the address named
};

struct connection_record {
    uint8_t* receive_buffer;  // bytes received and not yet taken (malloc), or null
    int32_t buffered;
    int32_t owned;        // the record frees the buffer
    uint8_t short_read;   // the last raw get found fewer bytes than it asked for
    uint8_t open;
    socket_row* socket;
};

struct network_handle_row {
    uint8_t kind;  // network_row_stream or network_row_host
    void* record;  // connection_record (stream) or socket_row (host)
};

extern list* network_handle_list;
extern list* connection_list;
extern list* socket_list;

// Start-up: the three pools, and the file statements' seam for negative numbers.
void network_lists_create();

// The socket transport. The absent one answers null for connect, listen and accept and -1 for the
// connection test; receive adds nothing. A transport's receive appends to the record's buffer with
// connection_receive_append.
struct network_transport {
    socket_object* (*connect)(const char* host, int32_t port);
    socket_object* (*listen)(int32_t port);
    socket_object* (*accept)();
    void (*send)(socket_object* object, const uint8_t* bytes, int32_t count);
    void (*receive_poll)(connection_record* connection);
    int32_t (*connected)(socket_object* object);
};
// Tests: another transport, or null for the absent one.
void network_transport_set(const network_transport* transport);
void connection_receive_append(connection_record* connection, const uint8_t* bytes, int32_t count);

// The address grammar (pure): kind 0 a client (three parts), 1 a host (two parts). The port is the
// second part read as a number, rounded to nearest with ties to even, 0..65535.
enum network_open_kind : int32_t { network_kind_client = 0, network_kind_host = 1, network_kind_accept = 2 };
struct network_address {
    bool valid;
    int32_t port;
    std::string host;
};
network_address network_address_parse(std::string_view text, int32_t kind);

// Bookkeeping: a new row id; 0 when the transport refused; -1 for a bad address or host row.
int32_t network_open(int32_t kind, std::string_view address, int32_t host_row);
void network_handle_close(int32_t row);
void connection_record_free(connection_record* connection);
void connection_send(connection_record* connection, const uint8_t* bytes, int32_t count);

// Statements: handle -(row + 1), or 0 when the connection could not be made; error 5 for a bad
// address, 258 for a bad host handle.
int32_t network_open_client(const string_descriptor* address);
int32_t network_open_host(const string_descriptor* address);
int32_t network_open_connection(int32_t host_handle);
// "TCP/IP:port:host" of a handle (a new temporary); error 52 for anything but an open row.
string_descriptor* network_connection_address(int32_t handle);
// -1 connected, 0 not; error 52 for anything but an open row.
int32_t network_connected(int32_t handle);

// The machine's public IPv4 address asked of a web service, or the empty text (a new temporary).
string_descriptor* public_ip_lookup();
// The address in a reply (pure): the first run of digits and dots in the body that is a dotted
// quad with octets up to 255; empty when there is none yet.
std::string public_ip_in_reply(std::string_view reply);

// Tests: every row closed and the pools empty again.
void network_reset();
