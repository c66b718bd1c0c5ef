#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/byte_span.h"
#include "core/errors.h"
#include "core/memory.h"
#include "core/runtime_fixture.h"
#include "core/sleeping_clock.h"
#include "core/strings.h"
#include "core/timing.h"
#include "files/file_fixture.h"
#include "files/network.h"
#include "files/network_seam.h"

namespace {

// A transport that always connects and records what it was asked.
struct fake_network {
    std::vector<std::pair<std::string, int32_t>> connects;
    std::vector<int32_t> listens;
    std::string sent;
    std::string to_receive;  // handed to the next receive poll
    int32_t accepts_left = 0;
    int32_t connected = -1;
};
fake_network fake;

const network_transport fake_transport{
    [](const char* host, int32_t port) {
        fake.connects.emplace_back(host, port);
        return new socket_object{port, {}, host};
    },
    [](int32_t port) {
        fake.listens.push_back(port);
        return new socket_object{port, {}, {}};
    },
    []() -> socket_object* {
        if (fake.accepts_left == 0) return nullptr;
        --fake.accepts_left;
        return new socket_object{81, {10, 0, 0, 7}, {}};
    },
    [](socket_object*, const uint8_t* bytes, int32_t count) { fake.sent.append(reinterpret_cast<const char*>(bytes), count); },
    [](connection_record* c) {
        connection_receive_append(c, reinterpret_cast<const uint8_t*>(fake.to_receive.data()),
                                  static_cast<int32_t>(fake.to_receive.size()));
        fake.to_receive.clear();
    },
    [](socket_object*) { return fake.connected; },
};

class Network : public ::testing::Test {
protected:
    void SetUp() override {
        dos_memory_clear();
        string_store_reset();
        string_segment_init();
        network_reset();
        fake = fake_network{};
    }
    void TearDown() override {
        network_transport_set(nullptr);
        network_reset();
        file_network = {};
        string_store_reset();
    }
    recorded_boxes boxes;
};

TEST(NetworkAddress, Grammar) {
    struct row {
        const char* text;
        int32_t kind;
        bool valid;
        int32_t port;
        const char* host;
    } rows[] = {
        {"TCP/IP:80", network_kind_host, true, 80, ""},
        {"TCP/IP:80", network_kind_client, false, 0, ""},
        {"tcp/ip:80:example.org", network_kind_client, true, 80, "example.org"},
        {"Tcp/Ip:80:example.org", network_kind_host, false, 0, ""},
        {"TCP/IP:80.5:h", network_kind_client, true, 80, "h"},
        {"TCP/IP:81.5:h", network_kind_client, true, 82, "h"},
        {"TCP/IP:&H50", network_kind_host, true, 80, ""},
        {"TCP/IP:65535", network_kind_host, true, 65535, ""},
        {"TCP/IP:65536", network_kind_host, false, 0, ""},
        {"TCP/IP:-1", network_kind_host, false, 0, ""},
        {"TCP/IP:1e30", network_kind_host, false, 0, ""},
        {"TCP/IP:x", network_kind_host, true, 0, ""},  // not a number reads as 0
        {"UDP:80", network_kind_host, false, 0, ""},
        {"TCPIP", network_kind_host, false, 0, ""},
        {"TCP/IP", network_kind_host, false, 0, ""},
        {"", network_kind_host, false, 0, ""},
        {"TCP/IP:80:h:x", network_kind_client, false, 0, ""},
        {"TCP/IP:80::::::::::::", network_kind_client, false, 0, ""},
        {"TCP/IP:80:::1", network_kind_client, false, 0, ""},
    };
    for (const auto& r : rows) {
        network_address a = network_address_parse(r.text, r.kind);
        EXPECT_EQ(a.valid, r.valid) << r.text;
        if (!r.valid || !a.valid) continue;
        EXPECT_EQ(a.port, r.port) << r.text;
        EXPECT_EQ(a.host, r.host) << r.text;
    }
}

TEST(PublicAddress, ReplyScanner) {
    struct row {
        const char* name;
        const char* reply;
        const char* found;
    } rows[] = {
        {"body line", "HTTP/1.1 200 OK\r\nServer: x/1.2.3.4\r\n\r\n203.0.113.7\r\n", "203.0.113.7"},
        {"no header end yet", "HTTP/1.1 200 OK\r\n203.0.113.7\r\n", ""},
        {"at the start of the body", "H\r\n\r\n1.2.3.4 is you", "1.2.3.4"},
        {"at the very end", "H\r\n\r\nyou are 10.20.30.40", "10.20.30.40"},
        {"a run with four dots is skipped", "H\r\n\r\n1.2.3.4.5 then 5.6.7.8\n", "5.6.7.8"},
        {"octets above 255 are refused", "H\r\n\r\n999.1.1.1 256.0.0.1 0.0.0.0", "0.0.0.0"},
        {"empty groups are refused", "H\r\n\r\n1..2.3 .1.2.3 1.2.3.", ""},
        {"four digits are not an octet", "H\r\n\r\n1000.1.1.1", ""},
        {"no address", "H\r\n\r\nnothing here", ""},
    };
    for (const auto& r : rows) EXPECT_EQ(public_ip_in_reply(r.reply), r.found) << r.name;
}

TEST_F(Network, WithoutATransportEveryOpenAnswersZero) {
    EXPECT_EQ(network_open_client(text("TCP/IP:80:example.org")), 0);
    EXPECT_EQ(network_open_host(text("TCP/IP:80")), 0);
    EXPECT_EQ(error_take(), 0);
    EXPECT_EQ(network_open_client(text("UDP:80:example.org")), 0);
    EXPECT_EQ(error_take(), 5);
    EXPECT_EQ(network_open_host(text("TCP/IP:80:example.org")), 0);
    EXPECT_EQ(error_take(), 5);
    for (int32_t h : {-1, -2, 0, 5}) {
        EXPECT_EQ(network_open_connection(h), 0);
        EXPECT_EQ(error_take(), 258) << h;
    }
    // Nothing to ask: the lookup answers without waiting for a reply.
    sleeping_clock_ms = 0;
    time_source_set(&sleeping_clock);
    EXPECT_EQ(text_of(public_ip_lookup()), "");
    time_source_set(nullptr);
    EXPECT_EQ(sleeping_clock_ms, 0);
    EXPECT_EQ(error_take(), 0);
}

TEST_F(Network, HandlesCountFromMinusTwoAndAreReused) {
    network_transport_set(&fake_transport);
    EXPECT_EQ(network_open_client(text("TCP/IP:80.5:a")), -2);
    EXPECT_EQ(network_open_client(text("TCP/IP:81.5:b")), -3);
    ASSERT_EQ(fake.connects.size(), 2u);
    EXPECT_EQ(fake.connects[0], (std::pair<std::string, int32_t>{"a", 80}));
    EXPECT_EQ(fake.connects[1].second, 82);
    file_network.close(-2);
    EXPECT_EQ(network_open_host(text("TCP/IP:81")), -2) << "the freed row first";
    EXPECT_EQ(fake.listens, std::vector<int32_t>{81});
    file_network.close(-1);  // names no row
    file_network.close(7);
    file_network.close_all();
    EXPECT_EQ(network_connected(-2), 0);
    EXPECT_EQ(error_take(), 52);
    EXPECT_EQ(network_open_client(text("TCP/IP:1:c")), -3) << "most recently freed first";
}

TEST_F(Network, TransfersThroughTheFileStatements) {
    network_transport_set(&fake_transport);
    int32_t h = network_open_client(text("TCP/IP:80:example.org"));
    ASSERT_EQ(h, -2);
    const uint8_t request[] = {'G', 'E', 'T'};
    file_network.put_bytes(h, request, 3);
    EXPECT_EQ(fake.sent, "GET");

    fake.to_receive = "abc";
    uint8_t four[4] = {9, 9, 9, 9};
    byte_span span{byte_span_low(four), byte_span_high(four), 4};
    file_network.get_bytes(h, &span);
    EXPECT_EQ(four[0], 9) << "fewer bytes than asked: nothing taken";
    EXPECT_EQ(file_network.eof(h), -1);
    EXPECT_EQ(file_network.length(h), 3);
    fake.to_receive = "d!";
    file_network.get_bytes(h, &span);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(four), 4), "abcd");
    EXPECT_EQ(file_network.eof(h), 0);
    EXPECT_EQ(file_network.length(h), 1);

    string_descriptor* target = string_new(0, 0);
    fake.to_receive = "xyz";
    file_network.get_string(h, target);
    EXPECT_EQ(text_of(target), "!xyz");
    EXPECT_EQ(file_network.length(h), 0);
    string_free(target);
    EXPECT_EQ(error_take(), 0);

    for (int32_t bad : {-3, -1, 5}) {
        file_network.get_bytes(bad, &span);
        EXPECT_EQ(error_take(), 52);
        EXPECT_EQ(file_network.length(bad), 0);
        EXPECT_EQ(error_take(), 52);
    }
    int32_t host = network_open_host(text("TCP/IP:81"));
    EXPECT_EQ(file_network.eof(host), 0);
    EXPECT_EQ(error_take(), 52) << "a host is not a stream";
}

TEST_F(Network, AddressesAndConnectionTests) {
    network_transport_set(&fake_transport);
    int32_t client = network_open_client(text("TCP/IP:8080:example.org"));
    int32_t host = network_open_host(text("TCP/IP:81"));
    fake.accepts_left = 1;
    int32_t accepted = network_open_connection(host);
    EXPECT_EQ(accepted, -4);
    EXPECT_EQ(network_open_connection(host), 0) << "no connection waiting";
    EXPECT_EQ(network_open_connection(client), 0);
    EXPECT_EQ(error_take(), 258) << "a stream is not a host";

    EXPECT_EQ(text_of(network_connection_address(client)), "TCP/IP:8080:example.org");
    EXPECT_EQ(text_of(network_connection_address(accepted)), "TCP/IP:81:10.0.0.7");
    // The host's own address asks the public-address service; here it gives no answer in 5 s.
    sleeping_clock_ms = 0;
    time_source_set(&sleeping_clock);
    EXPECT_EQ(text_of(network_connection_address(host)), "TCP/IP:81:127.0.0.1");
    time_source_set(nullptr);
    EXPECT_GT(sleeping_clock_ms, 5000);
    EXPECT_LT(sleeping_clock_ms, 5200);
    EXPECT_EQ(error_take(), 0);
    for (int32_t bad : {5, 0, -1, -9}) {
        EXPECT_EQ(text_of(network_connection_address(bad)), "");
        EXPECT_EQ(error_take(), 52);
    }
    EXPECT_EQ(network_connected(host), -1);
    fake.connected = 0;
    EXPECT_EQ(network_connected(client), 0);
    fake.connected = -1;
    EXPECT_EQ(network_connected(accepted), -1);
}

TEST_F(Network, PublicAddressFromAServiceReply) {
    network_transport_set(&fake_transport);
    fake.to_receive = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n203.0.113.7\r\n";
    time_source_set(&sleeping_clock);
    EXPECT_EQ(text_of(public_ip_lookup()), "203.0.113.7");
    time_source_set(nullptr);
    ASSERT_EQ(fake.connects.size(), 1u);
    EXPECT_EQ(fake.connects[0].second, 80);
    EXPECT_EQ(fake.sent.rfind("GET /ip.php HTTP/1.1\r\nHost: ", 0), 0u);
    EXPECT_EQ(fake.sent.substr(fake.sent.size() - 4), "\r\n\r\n");
    EXPECT_EQ(network_connected(-2), 0) << "the lookup closed its handle";
    EXPECT_EQ(error_take(), 52);
}

}  // namespace
