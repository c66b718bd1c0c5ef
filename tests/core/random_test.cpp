#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/random.h"
#include "runtime_fixture.h"

namespace {

// The state is what a zero argument gives back, times 2^24 (exact in a single).
uint32_t state_now() { return static_cast<uint32_t>(random_next(0, 1) * 16777216.0f); }

class RandomNumbers : public ::testing::Test {
protected:
    void SetUp() override { random_seed_reset(); }
    void TearDown() override {
        random_seed_reset();
        random_seed_prompt_set(nullptr);
    }
    recorded_boxes boxes;
};

TEST_F(RandomNumbers, SequenceFromTheStartSeed) {
    const uint32_t states[] = {0xB49EC3, 0x888E7A, 0x945B55, 0x4A20C4, 0x4D4C77,
                               0xC6555E, 0x0396A9, 0xC2BEC8, 0xD0826B, 0xB58382};
    for (uint32_t s : states) EXPECT_EQ(random_next(0, 0), static_cast<float>(s) / 16777216.0f) << std::hex << s;
    random_seed_reset();
    EXPECT_FLOAT_EQ(random_next(0, 0), 0.7055475f);
    EXPECT_FLOAT_EQ(random_next(0, 0), 0.5334240f);
    random_seed_reset();
    for (int i = 0; i < 10000; ++i) random_next(0, 0);
    EXPECT_EQ(state_now(), 0x66E190u);
}

TEST_F(RandomNumbers, PositiveArgumentsStepLikeNoArgument) {
    EXPECT_EQ(random_next(1, 1), 11837123.0f / 16777216.0f);
    EXPECT_EQ(random_next(123.5f, 1), static_cast<float>(0x888E7A) / 16777216.0f);
}

TEST_F(RandomNumbers, ZeroRepeatsTheLastNumber) {
    float last = random_next(0, 0);
    EXPECT_EQ(random_next(0, 1), last);
    EXPECT_EQ(random_next(0, 1), last);
    EXPECT_EQ(random_next(-0.0f, 1), last);
    EXPECT_EQ(state_now(), 0xB49EC3u);
}

TEST_F(RandomNumbers, NegativeArgumentReseedsFromItsBits) {
    struct row { float x; uint32_t state; };
    const row rows[] = {{-1.0f, 0x395886}, {-0.5f, 0xB95886}, {-3.0f, 0xF69C83}, {-1e-45f, 0x62E140}};
    for (const auto& r : rows) {
        random_next(0, 0);
        float a = random_next(r.x, 1);
        random_next(0, 0);
        EXPECT_EQ(random_next(r.x, 1), a) << r.x;
        EXPECT_EQ(a, static_cast<float>(r.state) / 16777216.0f) << r.x;
    }
}

TEST_F(RandomNumbers, FullPeriodOfTwoToTheTwentyFour) {
    std::vector<bool> seen(1u << 24, false);
    uint32_t start = state_now();
    for (uint32_t i = 0; i < (1u << 24); ++i) {
        uint32_t s = static_cast<uint32_t>(random_next(1, 1) * 16777216.0f);
        ASSERT_FALSE(seen[s]) << i;
        seen[s] = true;
    }
    EXPECT_EQ(state_now(), start);
}

TEST_F(RandomNumbers, SeedForms) {
    struct row { double value; int32_t form; uint32_t before; uint32_t after; };
    // 0x888E7A is the state after two numbers; its low byte 0x7A stays in the value form.
    const row rows[] = {
        {1.0, 3, 0x888E7A, 0x3FF000}, {1.0, 3, 0x50000, 0x3FF000}, {-1.0, 3, 0x888E7A, 0xBFF000},
        {12345.0, 3, 0xB49EC3, 0x5C4800}, {0.0, 3, 0x888E7A, 0x000000},
        {1.0, 1, 0x888E7A, 0x3FF07A}, {3.5, 1, 0xB49EC3, 0x400CC3}, {12345.0, 1, 0x50000, 0x5C4800},
    };
    for (const auto& r : rows) {
        random_seed_reset();
        while (state_now() != r.before) random_next(1, 1);
        random_seed_set(r.value, r.form);
        EXPECT_EQ(state_now(), r.after) << r.value << " form " << r.form;
    }
    random_seed_set(1.0, 3);
    EXPECT_EQ(random_next(0, 0), static_cast<float>(0xC3CEC3) / 16777216.0f);
}

std::vector<std::string> prompts;
int16_t prompt_answer = 0;

int16_t prompt_fake(const char* text) {
    prompts.push_back(text);
    return prompt_answer;
}

int16_t prompt_failing(const char*) {
    error_raise(57);
    return 99;
}

TEST_F(RandomNumbers, OtherFormsAskForTheSeed) {
    random_seed_prompt_set(prompt_fake);
    struct row { int32_t form; int16_t answer; uint32_t after; };
    const row rows[] = {{0, -1, 0xFFFF7A}, {2, 12345, 0x30397A}, {-7, -32768, 0x80007A}, {4, 0, 0x00007A}};
    for (const auto& r : rows) {
        prompts.clear();
        random_seed_reset();
        random_next(0, 0);
        random_next(0, 0);  // 0x888E7A
        prompt_answer = r.answer;
        random_seed_set(123.0, r.form);
        ASSERT_EQ(prompts.size(), 1u);
        EXPECT_EQ(prompts[0], "Random-number seed (-32768 to 32767)? ");
        EXPECT_EQ(state_now(), r.after) << r.form;
    }
}

TEST_F(RandomNumbers, NothingWhileAnErrorIsPending) {
    random_seed_prompt_set(prompt_fake);
    prompts.clear();
    random_next(0, 0);
    error_raise(53);
    EXPECT_EQ(random_next(0, 0), 0.0f);
    EXPECT_EQ(random_next(-1, 1), 0.0f);
    random_seed_set(1.0, 3);
    random_seed_set(1.0, 0);
    EXPECT_TRUE(prompts.empty());
    error_number = 0;
    EXPECT_EQ(state_now(), 0xB49EC3u);

    random_seed_prompt_set(prompt_failing);
    random_seed_set(1.0, 0);  // the line editor failed: the seed stays
    EXPECT_EQ(error_number.load(), 57);
    error_number = 0;
    EXPECT_EQ(state_now(), 0xB49EC3u);

    random_seed_prompt_set(nullptr);
    random_seed_set(1.0, 0);
    EXPECT_EQ(state_now(), 0xB49EC3u);
}

}  // namespace
