#include "files/network.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/byte_span.h"
#include "core/error_codes.h"
#include "core/errors.h"
#include "core/number_parse.h"
#include "core/strings.h"
#include "core/timing.h"
#include "files/network_seam.h"

list* network_handle_list = nullptr;
list* connection_list = nullptr;
list* socket_list = nullptr;

namespace {

constexpr std::string_view protocol_tcp_ip = "TCP/IP";
constexpr int32_t address_parts_max = 3;
constexpr int32_t port_max = 65535;
// The web service that answers a GET of /ip.php with the caller's public address.
constexpr std::string_view public_ip_service_host = "ip.lumo-runtime.invalid";
constexpr int64_t public_ip_wait_ms = 5000;
constexpr double public_ip_poll_seconds = 0.1;

// The absent transport.
socket_object* no_connect(const char*, int32_t) { return nullptr; }
socket_object* no_listen(int32_t) { return nullptr; }
socket_object* no_accept() { return nullptr; }
void no_send(socket_object*, const uint8_t*, int32_t) {}
void no_receive(connection_record*) {}
int32_t always_connected(socket_object*) { return -1; }
constexpr network_transport absent_transport{no_connect, no_listen, no_accept, no_send, no_receive, always_connected};

struct network_state {
    const network_transport* transport = &absent_transport;
};
network_state net;

socket_object* socket_connect(const char* host, int32_t port) { return net.transport->connect(host, port); }
socket_object* socket_listen(int32_t port) { return net.transport->listen(port); }
socket_object* socket_accept() { return net.transport->accept(); }
void socket_free(socket_object* object) { delete object; }
void connection_receive_poll(connection_record* c) { net.transport->receive_poll(c); }

template <class T>
T* item_new(list* l, int32_t& id) {
    id = list_add(l);
    auto* item = static_cast<T*>(list_get(l, id));
    *item = T{};
    return item;
}

network_handle_row* row_get(int32_t row) { return static_cast<network_handle_row*>(list_get(network_handle_list, row)); }
// Row id of a handle; handles of 0 and above name no row.
int32_t row_of(int32_t handle) { return handle < 0 ? -(handle + 1) : 0; }

// A stream row with its connection still open, or null.
connection_record* open_stream(int32_t handle) {
    network_handle_row* r = row_get(row_of(handle));
    if (!r || r->kind != network_row_stream) return nullptr;
    auto* c = static_cast<connection_record*>(r->record);
    return c->open ? c : nullptr;
}
socket_row* host_socket(int32_t handle) {
    network_handle_row* r = row_get(row_of(handle));
    return r && r->kind == network_row_host ? static_cast<socket_row*>(r->record) : nullptr;
}

// A stream row over a new socket of the given kind.
int32_t stream_add(socket_object* object, uint8_t socket_kind, int32_t port) {
    int32_t socket_id, connection_id, row_id;
    socket_row* s = item_new<socket_row>(socket_list, socket_id);
    *s = {socket_protocol_tcp_ip, socket_kind, object, port};
    connection_record* c = item_new<connection_record>(connection_list, connection_id);
    c->open = 1;
    c->socket = s;
    network_handle_row* r = item_new<network_handle_row>(network_handle_list, row_id);
    *r = {network_row_stream, c};
    return row_id;
}

int32_t host_add(socket_object* object, int32_t port) {
    int32_t socket_id, row_id;
    socket_row* s = item_new<socket_row>(socket_list, socket_id);
    *s = {socket_protocol_tcp_ip, socket_kind_host, object, port};
    network_handle_row* r = item_new<network_handle_row>(network_handle_list, row_id);
    *r = {network_row_host, s};
    return row_id;
}

void socket_row_free(socket_row* s) {
    if (s->protocol == socket_protocol_tcp_ip) socket_free(s->object);
    list_remove(socket_list, list_item_id(socket_list, s));
}

int32_t handle_answer(int32_t row, int32_t bad_error) {
    if (row == -1) {
        error_raise(bad_error);
        return 0;
    }
    return row == 0 ? 0 : -(row + 1);
}

bool octets_valid(std::string_view run) {
    int groups = 0;
    size_t at = 0;
    while (at <= run.size()) {
        size_t dot = run.find('.', at);
        if (dot == std::string_view::npos) dot = run.size();
        std::string_view group = run.substr(at, dot - at);
        if (group.empty() || group.size() > 3 || std::atoi(std::string(group).c_str()) > 255) return false;
        ++groups;
        at = dot + 1;
    }
    return groups == 4;
}

// The file statements on negative numbers.
void seam_close(int32_t handle) {
    int32_t row = row_of(handle);
    network_handle_row* r = row_get(row);
    if (!r) return;
    if (r->kind == network_row_host || static_cast<connection_record*>(r->record)->open) network_handle_close(row);
}

void seam_close_all() {
    for (int32_t row = 1; row <= network_handle_list->highest_id.load(); ++row) seam_close(-(row + 1));
}

// The stream of a transfer after the receive poll; 52 for anything else.
connection_record* transfer_stream(int32_t handle) {
    network_handle_row* r = row_get(row_of(handle));
    if (!r || r->kind != network_row_stream) {
        error_raise(error_bad_file_name_or_number);
        return nullptr;
    }
    auto* c = static_cast<connection_record*>(r->record);
    connection_receive_poll(c);
    return c;
}

void take_bytes(connection_record* c, uint8_t* to, int32_t n) {
    if (c->buffered < n) {
        c->short_read = 1;
        return;
    }
    std::memcpy(to, c->receive_buffer, n);
    std::memmove(c->receive_buffer, c->receive_buffer + n, c->buffered - n);
    c->buffered -= n;
    c->short_read = 0;
}

void seam_get_bytes(int32_t handle, byte_span* span) {
    if (connection_record* c = transfer_stream(handle)) take_bytes(c, byte_span_data(*span), span->length);
}

void seam_get_string(int32_t handle, string_descriptor* target) {
    connection_record* c = transfer_stream(handle);
    if (!c) return;
    if (target->fixed) return take_bytes(c, target->text, target->length);
    string_assign_always(target, string_temp_from_text({reinterpret_cast<const char*>(c->receive_buffer), static_cast<size_t>(c->buffered)}));
    c->buffered = 0;
    c->short_read = 0;
}

void seam_put_bytes(int32_t handle, const uint8_t* data, int32_t count) {
    if (connection_record* c = transfer_stream(handle)) connection_send(c, data, count);
}

int64_t seam_length(int32_t handle) {
    connection_record* c = transfer_stream(handle);
    return c ? c->buffered : 0;
}

int32_t seam_eof(int32_t handle) {
    connection_record* c = transfer_stream(handle);
    return c && c->short_read ? -1 : 0;
}

}  // namespace

void network_lists_create() {
    network_handle_list = list_new(sizeof(network_handle_row));
    connection_list = list_new(sizeof(connection_record));
    socket_list = list_new(sizeof(socket_row));
    file_network = {seam_close, seam_close_all, seam_get_bytes, seam_get_string, seam_put_bytes, seam_length, seam_eof};
}

void network_transport_set(const network_transport* transport) {
    net.transport = transport ? transport : &absent_transport;
}

void connection_receive_append(connection_record* c, const uint8_t* bytes, int32_t count) {
    if (count <= 0) return;
    if (count > INT32_MAX - c->buffered) return error_raise(error_out_of_memory);
    auto* grown = static_cast<uint8_t*>(std::realloc(c->receive_buffer, static_cast<size_t>(c->buffered) + count));
    if (!grown) return error_raise(error_out_of_memory);
    std::memcpy(grown + c->buffered, bytes, count);
    c->receive_buffer = grown;
    c->buffered += count;
    c->owned = 1;
}

network_address network_address_parse(std::string_view text, int32_t kind) {
    std::string_view parts[address_parts_max];
    int32_t count = 0;
    for (size_t at = 0;; ++count) {
        size_t colon = text.find(':', at);
        // More parts than any address has: refused, never stored.
        if (count == address_parts_max) return {};
        parts[count] = text.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
        if (colon == std::string_view::npos) {
            ++count;
            break;
        }
        at = colon + 1;
    }
    if (count < 2 || count != (kind == network_kind_client ? 3 : 2)) return {};
    if (parts[0].size() != protocol_tcp_ip.size()) return {};
    for (size_t i = 0; i < parts[0].size(); ++i)
        if (std::toupper(static_cast<unsigned char>(parts[0][i])) != protocol_tcp_ip[i]) return {};

    string_descriptor port_text{};
    port_text.text = reinterpret_cast<uint8_t*>(const_cast<char*>(parts[1].data()));
    port_text.length = static_cast<int32_t>(parts[1].size());
    long double port = std::nearbyint(string_to_number(&port_text));
    if (!(port >= 0 && port <= port_max)) return {};
    return {true, static_cast<int32_t>(port), kind == network_kind_client ? std::string(parts[2]) : std::string()};
}

int32_t network_open(int32_t kind, std::string_view address, int32_t host_row) {
    if (kind == network_kind_accept) {
        network_handle_row* host = row_get(host_row);
        if (!host || host->kind != network_row_host) return -1;
        socket_object* object = socket_accept();
        return object ? stream_add(object, socket_kind_accepted, static_cast<socket_row*>(host->record)->port) : 0;
    }
    network_address a = network_address_parse(address, kind);
    if (!a.valid) return -1;
    if (kind == network_kind_client) {
        socket_object* object = socket_connect(a.host.c_str(), a.port);
        return object ? stream_add(object, socket_kind_client, a.port) : 0;
    }
    socket_object* object = socket_listen(a.port);
    return object ? host_add(object, a.port) : 0;
}

void network_handle_close(int32_t row) {
    network_handle_row* r = row_get(row);
    if (!r) return;
    if (r->kind == network_row_host) {
        socket_row_free(static_cast<socket_row*>(r->record));
    } else {
        auto* c = static_cast<connection_record*>(r->record);
        socket_row_free(c->socket);
        connection_record_free(c);
    }
    list_remove(network_handle_list, row);
}

void connection_record_free(connection_record* c) {
    if (c->owned) std::free(c->receive_buffer);
    c->receive_buffer = nullptr;
    list_remove(connection_list, list_item_id(connection_list, c));
}

void connection_send(connection_record* c, const uint8_t* bytes, int32_t count) {
    socket_row* s = c->socket;
    if (c->open && s->protocol == socket_protocol_tcp_ip &&
        (s->kind == socket_kind_client || s->kind == socket_kind_accepted))
        net.transport->send(s->object, bytes, count);
}

int32_t network_open_client(const string_descriptor* address) {
    if (error_pending()) return 0;
    return handle_answer(network_open(network_kind_client, string_text_view(address), 0), error_illegal_function_call);
}

int32_t network_open_host(const string_descriptor* address) {
    if (error_pending()) return 0;
    return handle_answer(network_open(network_kind_host, string_text_view(address), 0), error_illegal_function_call);
}

int32_t network_open_connection(int32_t host_handle) {
    if (error_pending()) return 0;
    return handle_answer(network_open(network_kind_accept, {}, row_of(host_handle)), error_invalid_handle);
}

string_descriptor* network_connection_address(int32_t handle) {
    if (error_pending()) return string_temp_from_text({});
    if (socket_row* host = host_socket(handle); host && host->protocol == socket_protocol_tcp_ip) {
        string_descriptor* own = public_ip_lookup();
        std::string address = own->length ? std::string(string_text_view(own)) : "127.0.0.1";
        return string_temp_from_text("TCP/IP:" + std::to_string(host->port) + ":" + address);
    }
    connection_record* c = open_stream(handle);
    if (!c || c->socket->protocol != socket_protocol_tcp_ip) {
        error_raise(error_bad_file_name_or_number);
        return string_temp_from_text({});
    }
    const socket_object& o = *c->socket->object;
    std::string peer = o.host_name;
    if (c->socket->kind == socket_kind_accepted)
        peer = std::to_string(o.address[0]) + "." + std::to_string(o.address[1]) + "." + std::to_string(o.address[2]) +
               "." + std::to_string(o.address[3]);
    return string_temp_from_text("TCP/IP:" + std::to_string(o.port) + ":" + peer);
}

int32_t network_connected(int32_t handle) {
    if (error_pending()) return 0;
    if (socket_row* host = host_socket(handle); host && host->protocol == socket_protocol_tcp_ip) return -1;
    connection_record* c = open_stream(handle);
    if (!c || c->socket->protocol != socket_protocol_tcp_ip) {
        error_raise(error_bad_file_name_or_number);
        return 0;
    }
    return net.transport->connected(c->socket->object);
}

std::string public_ip_in_reply(std::string_view reply) {
    size_t body = reply.find("\r\n\r\n");
    if (body == std::string_view::npos) return {};
    std::string_view rest = reply.substr(body + 4);
    for (size_t at = 0; at < rest.size();) {
        size_t end = rest.find_first_not_of("0123456789.", at);
        if (end == std::string_view::npos) end = rest.size();
        if (end > at && octets_valid(rest.substr(at, end - at))) return std::string(rest.substr(at, end - at));
        at = end + 1;
    }
    return {};
}

string_descriptor* public_ip_lookup() {
    if (error_pending()) return string_temp_from_text({});
    const std::string host(public_ip_service_host);
    int32_t row = network_open(network_kind_client, "TCP/IP:80:" + host, 0);
    if (row <= 0) return string_temp_from_text({});
    const int32_t handle = -(row + 1);
    const std::string request = "GET /ip.php HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    seam_put_bytes(handle, reinterpret_cast<const uint8_t*>(request.data()), static_cast<int32_t>(request.size()));
    std::string reply, answer;
    // The monotonic clock: the time of day starts again at midnight.
    const int64_t start = clock_ms();
    while (answer.empty() && clock_ms() - start <= public_ip_wait_ms && !error_pending()) {
        delay_seconds(public_ip_poll_seconds);
        connection_record* c = transfer_stream(handle);
        if (!c) break;
        reply.append(reinterpret_cast<const char*>(c->receive_buffer), c->buffered);
        c->buffered = 0;
        answer = public_ip_in_reply(reply);
    }
    network_handle_close(row);
    return string_temp_from_text(answer);
}

void network_reset() {
    if (network_handle_list) {
        seam_close_all();
        list_destroy(network_handle_list);
        list_destroy(connection_list);
        list_destroy(socket_list);
    }
    net = network_state{};
    network_lists_create();
}
