// Stand-alone driver for a fuzz target when libFuzzer is not there (GCC, the normal builds):
// runs every file named on the command line, then a fixed number of seeded pseudo-random
// inputs, so the ordinary test run exercises the target too and a failure replays.
//
//   fuzz_x [--runs N] [--seed S] [--max-len L] [file...]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

// Inputs are drawn from a few alphabets: text-shaped ones (numbers, signs, line ends), the
// bytes the engine's frames are made of, and every value.
std::vector<uint8_t> random_input(std::mt19937_64& rng, size_t max_len) {
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
    unsigned long long runs = 1000, seed = 1, max_len = 256;
    const std::map<std::string, unsigned long long*> options = {
        {"--runs", &runs}, {"--seed", &seed}, {"--max-len", &max_len}};
    // Files are read before the target starts: it may change the current directory.
    std::vector<std::vector<uint8_t>> inputs;
    for (int i = 1; i < argc; ++i) {
        if (const auto o = options.find(argv[i]); o != options.end() && i + 1 < argc)
            *o->second = std::strtoull(argv[++i], nullptr, 10);
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
    for (unsigned long long i = 0; i < runs; ++i) {
        const std::vector<uint8_t> input = random_input(rng, max_len);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu files and %llu random inputs (seed %llu) passed\n", inputs.size(), runs, seed);
    return 0;
}
