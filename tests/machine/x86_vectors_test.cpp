// Every recorded 8086 vector of tests/data/x86-vectors (see its README) through one x86_step:
// registers other than IP and FLAGS, every listed byte, and nothing else written.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "x86_fixture.h"

namespace {

std::string gunzip(const std::string& path) {
    gzFile f = gzopen(path.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot open " + path);
    std::string out;
    char chunk[1 << 16];
    int n;
    while ((n = gzread(f, chunk, sizeof chunk)) > 0) out.append(chunk, n);
    gzclose(f);
    return out;
}

// Just enough JSON for the vector file: objects, arrays, unsigned integers, plain strings.
class json_reader {
public:
    explicit json_reader(const std::string& text) : s_(text) {}
    void expect(char c) {
        skip();
        if (s_[at_] != c) throw std::runtime_error(std::string("expected ") + c + " at " + std::to_string(at_));
        ++at_;
    }
    bool next_is(char c) {
        skip();
        return s_[at_] == c;
    }
    std::string string() {
        expect('"');
        size_t end = s_.find('"', at_);
        std::string v = s_.substr(at_, end - at_);
        at_ = end + 1;
        return v;
    }
    int64_t integer() {
        skip();
        int64_t v = 0;
        while (s_[at_] >= '0' && s_[at_] <= '9') v = v * 10 + (s_[at_++] - '0');
        return v;
    }
    // Calls each(key) for the members of an object.
    template <class F>
    void object(F each) {
        expect('{');
        if (next_is('}')) return expect('}');
        do {
            std::string key = string();
            expect(':');
            each(key);
        } while (comma());
        expect('}');
    }
    template <class F>
    void array(F each) {
        expect('[');
        if (next_is(']')) return expect(']');
        do each();
        while (comma());
        expect(']');
    }

private:
    void skip() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) ++at_;
    }
    bool comma() {
        if (!next_is(',')) return false;
        ++at_;
        return true;
    }
    const std::string& s_;
    size_t at_ = 0;
};

struct recorded_state {
    std::map<std::string, uint16_t> regs;
    std::vector<std::pair<uint32_t, uint8_t>> ram;
};

struct recorded_vector {
    std::string key;
    int64_t idx = 0;
    std::string name;
    recorded_state initial, final;
};

recorded_state read_state(json_reader& j) {
    recorded_state st;
    j.object([&](const std::string& key) {
        if (key == "regs") {
            j.object([&](const std::string& reg) { st.regs[reg] = static_cast<uint16_t>(j.integer()); });
        } else {
            j.array([&] {
                j.expect('[');
                uint32_t address = static_cast<uint32_t>(j.integer());
                j.expect(',');
                st.ram.emplace_back(address, static_cast<uint8_t>(j.integer()));
                j.expect(']');
            });
        }
    });
    return st;
}

std::vector<recorded_vector> read_vectors() {
    std::string text = gunzip(LUMO_TEST_DATA "/x86-vectors/vectors.json.gz");
    json_reader j(text);
    std::vector<recorded_vector> all;
    j.object([&](const std::string& key) {
        j.array([&] {
            recorded_vector v;
            v.key = key;
            j.object([&](const std::string& field) {
                if (field == "idx") v.idx = j.integer();
                else if (field == "name") v.name = j.string();
                else if (field == "bytes") j.array([&] { j.integer(); });
                else if (field == "initial") v.initial = read_state(j);
                else v.final = read_state(j);
            });
            all.push_back(std::move(v));
        });
    });
    return all;
}

struct register_name {
    const char* name;
    bool segment;
    int number;
};
constexpr register_name compared[] = {
    {"ax", false, x86_eax}, {"bx", false, x86_ebx}, {"cx", false, x86_ecx}, {"dx", false, x86_edx},
    {"sp", false, x86_esp}, {"bp", false, x86_ebp}, {"si", false, x86_esi}, {"di", false, x86_edi},
    {"cs", true, x86_cs},   {"ss", true, x86_ss},   {"ds", true, x86_ds},   {"es", true, x86_es},
};
constexpr uint32_t upper_halves = 0x5A5A0000;  // must survive every 16-bit instruction
constexpr uint16_t fs_value = 0x1234, gs_value = 0x4321;
constexpr uint8_t fill = 0xA5;

TEST(X86Vectors, EveryRecordedInstructionMatchesTheProcessor) {
    const std::vector<recorded_vector> vectors = read_vectors();
    ASSERT_EQ(vectors.size(), 10600u);

    flat_machine m;
    std::fill(m.memory.begin(), m.memory.end(), fill);
    int failures = 0;
    for (const recorded_vector& v : vectors) {
        x86_register_file regs{};
        for (const auto& r : compared) {
            uint16_t value = v.initial.regs.at(r.name);
            if (r.segment) regs.sreg[r.number] = value;
            else regs.gpr[r.number] = upper_halves | value;
        }
        regs.sreg[x86_fs] = fs_value;
        regs.sreg[x86_gs] = gs_value;
        regs.ip = v.initial.regs.at("ip");
        for (auto [address, byte] : v.initial.ram) m.memory[address] = byte;
        m.written.clear();

        x86_cpu cpu = x86_cpu_start(regs);
        x86_result result = x86_step(cpu, m.bus());

        std::string where = v.key + " #" + std::to_string(v.idx) + " " + v.name;
        bool ok = result.outcome == x86_outcome::next;
        EXPECT_EQ(result.outcome, x86_outcome::next) << where;
        for (const auto& r : compared) {
            auto changed = v.final.regs.find(r.name);
            uint16_t want = changed != v.final.regs.end() ? changed->second : v.initial.regs.at(r.name);
            uint32_t got = r.segment ? regs.sreg[r.number] : regs.gpr[r.number];
            uint32_t want_full = r.segment ? want : (upper_halves | want);
            ok &= got == want_full;
            EXPECT_EQ(got, want_full) << where << " register " << r.name;
        }
        ok &= regs.sreg[x86_fs] == fs_value && regs.sreg[x86_gs] == gs_value;
        std::set<uint32_t> listed;
        for (auto [address, byte] : v.final.ram) {
            listed.insert(address);
            ok &= m.memory[address] == byte;
            EXPECT_EQ(m.memory[address], byte) << where << " byte at " << address;
        }
        for (uint32_t address : m.written) {
            ok &= listed.count(address) == 1;
            EXPECT_EQ(listed.count(address), 1u) << where << " wrote unlisted byte " << address;
        }
        if (!ok && ++failures > 20) FAIL() << "too many failures";

        for (auto [address, byte] : v.initial.ram) m.memory[address] = fill;
        for (uint32_t address : m.written) m.memory[address] = fill;
    }
}

}  // namespace
