// Stand-alone driver for a fuzz target when libFuzzer is not there (GCC, the normal builds):
// runs every file named on the command line, then a fixed number of seeded pseudo-random
// inputs, so the ordinary test run exercises the target too and a failure replays.
//
//   fuzz_x [--runs N] [--seed S] [--max-len L] [file...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Inputs are drawn from a few alphabets, so that a text-shaped target (the settings file)
// sees numbers, signs and line ends, and a byte-shaped one (the engine) sees every value.
std::vector<uint8_t> Random_Input(std::mt19937_64& rng, size_t max_len) {
    using namespace std::string_literals;
    static const std::string alphabets[] = {
        " \t\r\n,0123456789.-+eEdD&HhOo"s,
        "0123456789\r\n, "s,
        "\x00\x01\x02\x03\x04\x08\x10\x13\x30\x40\x41\x81\x82\x85\x96\xff"s,
    };
    std::vector<uint8_t> input(std::uniform_int_distribution<size_t>(0, max_len)(rng));
    const int kind = static_cast<int>(rng() % 4);
    for (auto& b : input)
        b = static_cast<uint8_t>(kind == 3 ? rng()
                                           : alphabets[kind][rng() % alphabets[kind].size()]);
    return input;
}

} // namespace

int main(int argc, char** argv) {
    long runs = 1000;
    unsigned long long seed = 1;
    size_t max_len = 256;
    // Files are read before the target starts: it may change the current directory.
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--runs") && has_value)
            runs = std::strtol(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && has_value)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--max-len") && has_value)
            max_len = std::strtoul(argv[++i], nullptr, 10);
        else if (std::ifstream in{argv[i], std::ios::binary})
            inputs.emplace_back(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
        else
            return std::fprintf(stderr, "cannot read %s\n", argv[i]), 2;
    }

    LLVMFuzzerInitialize(&argc, &argv);

    for (const auto& input : inputs)
        LLVMFuzzerTestOneInput(input.data(), input.size());

    std::mt19937_64 rng(seed);
    for (long i = 0; i < runs; ++i) {
        const std::vector<uint8_t> input = Random_Input(rng, max_len);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu files and %ld random inputs (seed %llu) passed\n", inputs.size(), runs, seed);
    return 0;
}
