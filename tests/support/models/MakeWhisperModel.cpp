// Writes a whisper model file in ggml's file format, with random weights.
//
// The recogniser's tests and benchmarks need a model that the speech library
// loads and runs for real; no trained model can be shipped with the sources.
// The layout follows the library's loader exactly: magic, hyper-parameters,
// mel filter bank, vocabulary, then one record per tensor in the type the
// loader expects for the model's ftype. The weights are reproducible random
// numbers (fixed seed), so the text recognised is meaningless but the compute
// cost of a model with the same shape is the real one.
//
//   vantuli_make_model --preset tiny|small [--type f32|f16|q5_1] [--seed N] OUTPUT

#include <ggml.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

struct Shape {
    int32_t vocab = 51865; // the multilingual vocabulary, so the special token ids are the real ones
    int32_t audioContext = 1500;
    int32_t audioState = 64;
    int32_t audioHeads = 2;
    int32_t audioLayers = 1;
    int32_t textContext = 448;
    int32_t textState = 64;
    int32_t textHeads = 2;
    int32_t textLayers = 1;
    int32_t mels = 80;
};

// splitmix64: fast, reproducible, good enough for weights nobody trains.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next()
    {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform with the given standard deviation around zero.
    float spread(float deviation)
    {
        const double unit = static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); // [0, 1)
        return static_cast<float>((unit * 2.0 - 1.0) * std::sqrt(3.0) * deviation);
    }

private:
    uint64_t state_;
};

class Writer {
public:
    Writer(const std::string &path, ggml_type weightType, uint64_t seed)
        : out_(path, std::ios::binary | std::ios::trunc), weightType_(weightType), random_(seed)
    {
    }
    bool good() const { return static_cast<bool>(out_); }

    void i32(int32_t v) { out_.write(reinterpret_cast<const char *>(&v), sizeof v); }
    void u32(uint32_t v) { out_.write(reinterpret_cast<const char *>(&v), sizeof v); }
    void bytes(const void *data, size_t size) { out_.write(static_cast<const char *>(data), static_cast<std::streamsize>(size)); }

    // Kinds of tensor, as the loader types them.
    enum class Kind { Bias, Scale, Embedding, Matrix, Convolution };

    void tensor(const std::string &name, std::vector<int32_t> ne, Kind kind)
    {
        int64_t count = 1;
        for (int32_t n : ne)
            count *= n;
        std::vector<float> values(static_cast<size_t>(count));
        switch (kind) {
        case Kind::Scale:
            std::fill(values.begin(), values.end(), 1.0f);
            break;
        case Kind::Bias:
            for (float &v : values)
                v = random_.spread(0.002f);
            break;
        case Kind::Embedding:
        case Kind::Matrix:
        case Kind::Convolution:
            for (float &v : values)
                v = random_.spread(0.02f);
            break;
        }

        ggml_type type = GGML_TYPE_F32;
        if (kind == Kind::Matrix)
            type = weightType_;
        else if (kind == Kind::Convolution)
            type = weightType_ == GGML_TYPE_F32 ? GGML_TYPE_F32 : GGML_TYPE_F16;

        i32(static_cast<int32_t>(ne.size()));
        i32(static_cast<int32_t>(name.size()));
        i32(static_cast<int32_t>(type));
        for (int32_t n : ne)
            i32(n);
        bytes(name.data(), name.size());

        const int64_t row = ne[0];
        const int64_t rows = count / row;
        if (type == GGML_TYPE_F32) {
            bytes(values.data(), values.size() * sizeof(float));
        } else if (type == GGML_TYPE_F16) {
            std::vector<ggml_fp16_t> half(values.size());
            ggml_fp32_to_fp16_row(values.data(), half.data(), count);
            bytes(half.data(), half.size() * sizeof(ggml_fp16_t));
        } else {
            std::vector<uint8_t> packed(ggml_row_size(type, row) * static_cast<size_t>(rows));
            const size_t written = ggml_quantize_chunk(type, values.data(), packed.data(), 0, rows, row, nullptr);
            bytes(packed.data(), written);
        }
    }

private:
    std::ofstream out_;
    ggml_type weightType_;
    Random random_;
};

// The Slaney-style mel filter bank for 16 kHz audio and a 400-point FFT
// (201 bins), area-normalised: what the speech library expects to find.
std::vector<float> melFilters(int mels, int bins)
{
    const double sampleRate = 16000.0;
    const double fSp = 200.0 / 3.0;
    const double minLogHz = 1000.0;
    const double minLogMel = minLogHz / fSp;
    const double logStep = std::log(6.4) / 27.0;
    auto toMel = [&](double hz) { return hz < minLogHz ? hz / fSp : minLogMel + std::log(hz / minLogHz) / logStep; };
    auto toHz = [&](double mel) { return mel < minLogMel ? mel * fSp : minLogHz * std::exp(logStep * (mel - minLogMel)); };

    const double top = toMel(sampleRate / 2.0);
    std::vector<double> edges(static_cast<size_t>(mels + 2));
    for (int i = 0; i < mels + 2; ++i)
        edges[static_cast<size_t>(i)] = toHz(top * i / (mels + 1));

    std::vector<float> filters(static_cast<size_t>(mels) * static_cast<size_t>(bins), 0.0f);
    for (int m = 0; m < mels; ++m) {
        const double lo = edges[static_cast<size_t>(m)];
        const double mid = edges[static_cast<size_t>(m) + 1];
        const double hi = edges[static_cast<size_t>(m) + 2];
        const double norm = 2.0 / (hi - lo);
        for (int b = 0; b < bins; ++b) {
            const double f = sampleRate / 2.0 * b / (bins - 1);
            const double rise = (f - lo) / (mid - lo);
            const double fall = (hi - f) / (hi - mid);
            const double w = std::max(0.0, std::min(rise, fall));
            filters[static_cast<size_t>(m) * static_cast<size_t>(bins) + static_cast<size_t>(b)] = static_cast<float>(w * norm);
        }
    }
    return filters;
}

// Byte-level vocabulary in the shape of the real one: the 256 single bytes
// (so the library can produce partial UTF-8 sequences, as real models do),
// then made-up words, some of them CJK, and the empty token at 50256.
std::vector<std::string> vocabulary()
{
    static const char *const syllables[] = {"ka", "lo", "mi", "ne", "ru", "sa", "to", "vi", "de", "an",
                                            "or", "ti", "pe", "ju", "ba", "el", "os", "ur", "qi", "zo"};
    std::vector<std::string> words;
    words.reserve(50257);
    for (int i = 0; i < 256; ++i)
        words.emplace_back(1, static_cast<char>(i));
    for (int i = 256; i < 50256; ++i) {
        std::string word;
        if (i % 7 == 0) {
            const uint32_t cp = 0x4e00u + static_cast<uint32_t>(i % 20000);
            word += static_cast<char>(0xe0 | (cp >> 12));
            word += static_cast<char>(0x80 | ((cp >> 6) & 0x3f));
            word += static_cast<char>(0x80 | (cp & 0x3f));
        } else {
            if (i % 2 == 0)
                word += ' ';
            int n = i;
            for (int k = 0; k < 1 + (i % 3); ++k) {
                word += syllables[n % 20];
                n /= 20;
            }
        }
        words.push_back(word);
    }
    words.emplace_back(); // 50256: empty in multilingual vocabularies
    return words;
}

int usage()
{
    std::cerr << "usage: vantuli_make_model --preset tiny|small [--type f32|f16|q5_1] [--seed N] OUTPUT\n";
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string preset = "tiny";
    std::string typeName;
    std::string output;
    uint64_t seed = 20240601;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--preset" && i + 1 < argc)
            preset = argv[++i];
        else if (arg == "--type" && i + 1 < argc)
            typeName = argv[++i];
        else if (arg == "--seed" && i + 1 < argc)
            seed = std::stoull(argv[++i]);
        else if (!arg.empty() && arg[0] != '-' && output.empty())
            output = arg;
        else
            return usage();
    }
    if (output.empty())
        return usage();

    Shape shape;
    if (preset == "small") {
        shape.audioState = shape.textState = 768;
        shape.audioHeads = shape.textHeads = 12;
        shape.audioLayers = shape.textLayers = 12;
        if (typeName.empty())
            typeName = "q5_1";
    } else if (preset != "tiny") {
        return usage();
    }
    if (typeName.empty())
        typeName = "f16";

    ggml_type weightType;
    int32_t ftype;
    if (typeName == "f32") {
        weightType = GGML_TYPE_F32;
        ftype = GGML_FTYPE_ALL_F32;
    } else if (typeName == "f16") {
        weightType = GGML_TYPE_F16;
        ftype = GGML_FTYPE_MOSTLY_F16;
    } else if (typeName == "q5_1") {
        weightType = GGML_TYPE_Q5_1;
        ftype = GGML_FTYPE_MOSTLY_Q5_1 + GGML_QNT_VERSION * GGML_QNT_VERSION_FACTOR;
    } else {
        return usage();
    }

    // Written next to the target and renamed at the end, so a build never sees half a model.
    const std::string partial = output + ".partial";
    {
        Writer w(partial, weightType, seed);
        if (!w.good()) {
            std::cerr << "vantuli_make_model: cannot write " << partial << "\n";
            return 1;
        }

        w.u32(GGML_FILE_MAGIC);
        for (int32_t v : {shape.vocab, shape.audioContext, shape.audioState, shape.audioHeads, shape.audioLayers,
                          shape.textContext, shape.textState, shape.textHeads, shape.textLayers, shape.mels, ftype})
            w.i32(v);

        const int bins = 201;
        const std::vector<float> filters = melFilters(shape.mels, bins);
        w.i32(shape.mels);
        w.i32(bins);
        w.bytes(filters.data(), filters.size() * sizeof(float));

        const std::vector<std::string> words = vocabulary();
        w.i32(static_cast<int32_t>(words.size()));
        for (const std::string &word : words) {
            w.u32(static_cast<uint32_t>(word.size()));
            w.bytes(word.data(), word.size());
        }

        using K = Writer::Kind;
        const int32_t a = shape.audioState;
        const int32_t t = shape.textState;
        w.tensor("encoder.positional_embedding", {a, shape.audioContext}, K::Embedding);
        w.tensor("encoder.conv1.weight", {3, shape.mels, a}, K::Convolution);
        w.tensor("encoder.conv1.bias", {1, a}, K::Bias);
        w.tensor("encoder.conv2.weight", {3, a, a}, K::Convolution);
        w.tensor("encoder.conv2.bias", {1, a}, K::Bias);
        // One transformer block of width n: each attention, then the MLP.
        const auto block = [&w](const std::string &p, std::initializer_list<const char *> attentions, int32_t n) {
            for (const std::string attention : attentions) {
                w.tensor(p + attention + "_ln.weight", {n}, K::Scale);
                w.tensor(p + attention + "_ln.bias", {n}, K::Bias);
                w.tensor(p + attention + ".query.weight", {n, n}, K::Matrix);
                w.tensor(p + attention + ".query.bias", {n}, K::Bias);
                w.tensor(p + attention + ".key.weight", {n, n}, K::Matrix);
                w.tensor(p + attention + ".value.weight", {n, n}, K::Matrix);
                w.tensor(p + attention + ".value.bias", {n}, K::Bias);
                w.tensor(p + attention + ".out.weight", {n, n}, K::Matrix);
                w.tensor(p + attention + ".out.bias", {n}, K::Bias);
            }
            w.tensor(p + "mlp_ln.weight", {n}, K::Scale);
            w.tensor(p + "mlp_ln.bias", {n}, K::Bias);
            w.tensor(p + "mlp.0.weight", {n, 4 * n}, K::Matrix);
            w.tensor(p + "mlp.0.bias", {4 * n}, K::Bias);
            w.tensor(p + "mlp.2.weight", {4 * n, n}, K::Matrix);
            w.tensor(p + "mlp.2.bias", {n}, K::Bias);
        };
        for (int i = 0; i < shape.audioLayers; ++i)
            block("encoder.blocks." + std::to_string(i) + ".", {"attn"}, a);
        w.tensor("encoder.ln_post.weight", {a}, K::Scale);
        w.tensor("encoder.ln_post.bias", {a}, K::Bias);

        w.tensor("decoder.positional_embedding", {t, shape.textContext}, K::Embedding);
        w.tensor("decoder.token_embedding.weight", {t, shape.vocab}, K::Matrix);
        for (int i = 0; i < shape.textLayers; ++i)
            block("decoder.blocks." + std::to_string(i) + ".", {"attn", "cross_attn"}, t);
        w.tensor("decoder.ln.weight", {t}, K::Scale);
        w.tensor("decoder.ln.bias", {t}, K::Bias);

        if (!w.good()) {
            std::cerr << "vantuli_make_model: writing " << partial << " failed\n";
            std::remove(partial.c_str());
            return 1;
        }
    }
    if (std::rename(partial.c_str(), output.c_str()) != 0) {
        std::cerr << "vantuli_make_model: cannot move the model to " << output << "\n";
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
