// Stand-alone driver for a fuzz target when libFuzzer is not there (GCC, the normal builds):
// runs every file named on the command line, then a fixed number of seeded pseudo-random
// inputs, so the ordinary test run exercises the target too and a failure replays.
//
//   fuzz_x [--runs N] [--seed S] [--max-len L] [--save-last PATH] [file...]
//
// With --save-last, each random input is written to PATH before it runs, so the one that
// failed can be kept as a regression file.
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
    std::uniform_int_distribution<size_t> len_dist(0, max_len);
    const size_t len = len_dist(rng);
    const int kind = static_cast<int>(rng() % 4);
    std::vector<uint8_t> input(len);
    for (auto& b : input) {
        if (kind == 3) {
            b = static_cast<uint8_t>(rng());
        } else {
            const std::string& a = alphabets[kind];
            b = static_cast<uint8_t>(a[rng() % a.size()]);
        }
    }
    return input;
}

bool Read_File(const char* path, std::vector<uint8_t>* out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    long runs = 1000;
    unsigned long long seed = 1;
    size_t max_len = 256;
    const char* save_last = nullptr;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--runs") && has_value)
            runs = std::strtol(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--seed") && has_value)
            seed = std::strtoull(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--max-len") && has_value)
            max_len = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--save-last") && has_value)
            save_last = argv[++i];
        else
            files.push_back(argv[i]);
    }

    // Read before the target starts: it may change the current directory.
    std::vector<std::vector<uint8_t>> inputs(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        if (!Read_File(files[i], &inputs[i])) {
            std::fprintf(stderr, "cannot read %s\n", files[i]);
            return 2;
        }
    }

    LLVMFuzzerInitialize(&argc, &argv);

    for (const auto& input : inputs)
        LLVMFuzzerTestOneInput(input.data(), input.size());

    std::mt19937_64 rng(seed);
    for (long i = 0; i < runs; ++i) {
        const std::vector<uint8_t> input = Random_Input(rng, max_len);
        if (save_last) {
            std::ofstream out(save_last, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(input.data()),
                      static_cast<std::streamsize>(input.size()));
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%zu files and %ld random inputs (seed %llu) passed\n", files.size(), runs, seed);
    return 0;
}
