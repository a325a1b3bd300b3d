// SPDX-License-Identifier: MIT
// Defines one SIMD row of the x86 paths. A path's source file defines VMC_I420_SIMD_TARGET (its
// instruction set, as GCC names it), VMC_I420_SIMD_ROW (the row's name) and VMC_I420_SIMD_LAYOUT
// (one of the register layouts below) and then includes this file, once. Everything defined here
// compiles for that instruction set whatever the build's baseline (the processor is checked
// before the row is used), and the anonymous namespace keeps each file's copy its own.
#include "internal/convert/i420convert.h"

#if VMC_I420_X86_PATHS
#include <immintrin.h>

#include <cstdint>
#include <cstring>

// After the headers, so that only the code below is compiled for the target.
#define VMC_I420_PRAGMA(text) _Pragma(#text)
#define VMC_I420_TARGET(name) VMC_I420_PRAGMA(GCC target(name))
VMC_I420_TARGET(VMC_I420_SIMD_TARGET)

namespace TQZCapture {
namespace I420 {
namespace {

// Every output byte is (w0*p0 + w1*p1 + w2*p2 + bias) >> 8, the formula's rounding term and
// offset folded into the bias (128 + 16*256 for luma, 128 + 128*256 for chroma). For 8-bit
// pixels these sums lie in 4224..60324 (luma) and 4336..61456 (chroma): 16-bit lanes that wrap
// on overflow hold them exactly and a logical shift by 8 gives the result.
struct Weights {
    int p0, p1, p2, bias;
};
constexpr Weights kLuma{66, 129, 25, 128 + 16 * 256};
constexpr Weights kBlue{-38, -74, 112, 128 + 128 * 256};
constexpr Weights kRed{112, -94, -18, 128 + 128 * 256};

// The weights above are for red-first pixels; blue-first pixels take them with p0 and p2
// exchanged, which gives the very same sums.
constexpr Weights InOrder(const Weights& w, Order order) {
    return order == Order::RedFirst ? w : Weights{w.p2, w.p1, w.p0, w.bias};
}

// The same bits as another type of the same size (vector types differ only in their lanes).
template <class To, class From>
To Bits(const From& from) {
    static_assert(sizeof(To) == sizeof(From), "same size");
    To to;
    std::memcpy(&to, &from, sizeof to);
    return to;
}

// N bytes as 16-bit lanes. GCC's vector operators work lane by lane and wrap.
template <int N>
struct Lanes {
    typedef std::uint16_t Words __attribute__((vector_size(N)));
    static Words Splat(int value) { return Words{} + static_cast<std::uint16_t>(value); }
};

// Even pixels' sums in the low byte of each lane, odd pixels' in the high byte: the sums of
// pixels 2k and 2k + 1 give luma bytes 2k and 2k + 1, in place.
template <int N>
void StoreLuma(std::uint8_t* dst, typename Lanes<N>::Words even, typename Lanes<N>::Words odd) {
    const typename Lanes<N>::Words bytes = (even >> 8) | (odd & 0xFF00);
    std::memcpy(dst, &bytes, N);
}

// The N / 2 chroma bytes of the even pixels.
template <int N>
void StoreChroma(std::uint8_t* dst, typename Lanes<N>::Words sums) {
    const typename Lanes<N>::Words values = sums >> 8;
    if constexpr (N == 16) {
        const __m128i v = Bits<__m128i>(values);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
    } else {
        const __m256i v = Bits<__m256i>(values);
        // Packing works per 16-byte lane: the bytes are in quadwords 0 and 2.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm256_castsi256_si128(packed));
    }
}

// SSE2: 16 pixels a step, split into three registers of p0, p1 and p2 bytes and widened to
// 16-bit lanes by parity.
struct Planar {
    static constexpr int kBytes = 16;
    using Words = Lanes<16>::Words;
    struct Half {
        Words p0, p1, p2;
    };
    struct Factors {
        Words p0, p1, p2, bias;
    };

    static Factors Make(const Weights& w) {
        return {Lanes<16>::Splat(w.p0), Lanes<16>::Splat(w.p1), Lanes<16>::Splat(w.p2),
                Lanes<16>::Splat(w.bias)};
    }

    // One round interleaves the first and the second 24 bytes of the 48 in a, b, c: the byte at
    // position p moves to 2p mod 47 (47 stays). After four rounds it is at 16p mod 47, which for
    // p = 3k + c (byte c of pixel k) is 16c + k: the bytes end sorted by channel.
    static void Riffle(__m128i& a, __m128i& b, __m128i& c) {
        const __m128i first = _mm_unpacklo_epi8(a, _mm_srli_si128(b, 8));
        const __m128i second = _mm_unpackhi_epi8(a, _mm_slli_si128(c, 8));
        const __m128i third = _mm_unpacklo_epi8(b, _mm_srli_si128(c, 8));
        a = first;
        b = second;
        c = third;
    }

    void Load(const std::uint8_t* src, Half* even, Half* odd) const {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        for (int round = 0; round < 4; ++round) Riffle(a, b, c);
        const Words p0 = Bits<Words>(a), p1 = Bits<Words>(b), p2 = Bits<Words>(c);
        *even = {p0 & 0xFF, p1 & 0xFF, p2 & 0xFF};
        *odd = {p0 >> 8, p1 >> 8, p2 >> 8};
    }

    static Words Sum(const Half& h, const Factors& f) {
        return h.p0 * f.p0 + h.p1 * f.p1 + h.p2 * f.p2 + f.bias;
    }
};

// The register of N bytes.
template <int N>
struct Register;
template <>
struct Register<16> {
    using Type = __m128i;
};
template <>
struct Register<32> {
    using Type = __m256i;
};

// Byte selectors (pshufb) that gather from a 48-byte block of 16 pixels held in three 16-byte
// registers: result byte k is block byte at(k); part[i] picks those that register i holds and
// zeroes the rest.
struct alignas(16) Selector {
    std::int8_t part[3][16];
};

template <class At>
constexpr Selector Select(At at) {
    Selector s{};
    for (int i = 0; i < 3; ++i) {
        for (int k = 0; k < 16; ++k) {
            s.part[i][k] = at(k) / 16 == i ? static_cast<std::int8_t>(at(k) % 16) : -128;
        }
    }
    return s;
}

// Pixel k of a block is bytes 3k, 3k + 1, 3k + 2 (p0, p1, p2).
constexpr Selector kMiddles = Select([](int k) { return 3 * k + 1; });
constexpr Selector kEvenOuters = Select([](int k) { return 6 * (k / 2) + 2 * (k % 2); });
constexpr Selector kOddOuters = Select([](int k) { return 6 * (k / 2) + 3 + 2 * (k % 2); });

// SSSE3 (N 16) and AVX2 (N 32): each 16-byte lane takes a block of 16 pixels and gathers the
// p1 bytes, and the (p0, p2) byte pairs of the even and of the odd pixels; a multiply-add of
// byte pairs weighs p0 and p2 together (|w0| + |w2| <= 128 keeps those sums inside 16 bits).
template <int N>
class Paired {
public:
    static constexpr int kBytes = N;
    using Words = typename Lanes<N>::Words;
    using Reg = typename Register<N>::Type;
    struct Half {
        Words outers, p1;
    };
    struct Factors {
        Words outers, p1, bias;
    };

    Paired() {
        for (int i = 0; i < 3; ++i) {
            middles_[i] = Broadcast(kMiddles.part[i]);
            evenOuters_[i] = Broadcast(kEvenOuters.part[i]);
            oddOuters_[i] = Broadcast(kOddOuters.part[i]);
        }
    }

    static Factors Make(const Weights& w) {
        const int pair = static_cast<std::uint8_t>(w.p0) | static_cast<std::uint8_t>(w.p2) << 8;
        return {Lanes<N>::Splat(pair), Lanes<N>::Splat(w.p1), Lanes<N>::Splat(w.bias)};
    }

    void Load(const std::uint8_t* src, Half* even, Half* odd) const {
        const Reg parts[3] = {Part(src, 0), Part(src, 1), Part(src, 2)};
        const Words p1 = Gather(parts, middles_);
        *even = {Gather(parts, evenOuters_), p1 & 0xFF};
        *odd = {Gather(parts, oddOuters_), p1 >> 8};
    }

    static Words Sum(const Half& h, const Factors& f) {
        Reg outers;
        if constexpr (N == 16) {
            outers = _mm_maddubs_epi16(AsReg(h.outers), AsReg(f.outers));
        } else {
            outers = _mm256_maddubs_epi16(AsReg(h.outers), AsReg(f.outers));
        }
        return Bits<Words>(outers) + h.p1 * f.p1 + f.bias;
    }

private:
    static Reg AsReg(const Words& w) { return Bits<Reg>(w); }

    static Reg Broadcast(const std::int8_t* bytes) {
        const __m128i v = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
        if constexpr (N == 16) {
            return v;
        } else {
            return _mm256_broadcastsi128_si256(v);
        }
    }

    // Register `i` of the block in every lane: lane L takes the block at src + 48 L.
    static Reg Part(const std::uint8_t* src, int i) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16 * i));
        if constexpr (N == 16) {
            return low;
        } else {
            const __m128i high =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48 + 16 * i));
            return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        }
    }

    static Words Gather(const Reg (&parts)[3], const Reg (&selectors)[3]) {
        Reg r;
        if constexpr (N == 16) {
            r = _mm_shuffle_epi8(parts[0], selectors[0]) |
                _mm_shuffle_epi8(parts[1], selectors[1]) | _mm_shuffle_epi8(parts[2], selectors[2]);
        } else {
            r = _mm256_shuffle_epi8(parts[0], selectors[0]) |
                _mm256_shuffle_epi8(parts[1], selectors[1]) |
                _mm256_shuffle_epi8(parts[2], selectors[2]);
        }
        return Bits<Words>(r);
    }

    Reg middles_[3], evenOuters_[3], oddOuters_[3];
};

// Converts a row with `Layout`, kBytes pixels a step, and the rest with the reference.
template <class Layout>
void SimdRow(const std::uint8_t* src, std::uint8_t* luma, std::uint8_t* chroma, std::uint32_t count,
             Chroma kind, Order order) {
    constexpr int N = Layout::kBytes;
    const Layout layout;
    const typename Layout::Factors y = Layout::Make(InOrder(kLuma, order));
    const typename Layout::Factors c =
        Layout::Make(InOrder(kind == Chroma::Cb ? kBlue : kRed, order));
    std::uint32_t j = 0;
    for (; count - j >= N; j += N) {
        typename Layout::Half even, odd;
        layout.Load(src + 3 * j, &even, &odd);
        StoreLuma<N>(luma + j, Layout::Sum(even, y), Layout::Sum(odd, y));
        StoreChroma<N>(chroma + j / 2, Layout::Sum(even, c));
    }
    ReferenceRow(src + 3 * j, luma + j, chroma + j / 2, count - j, kind, order);
}

}  // namespace

// Realigns the stack on entry: 32-bit Windows callers may pass it 4-byte aligned only.
__attribute__((force_align_arg_pointer)) void VMC_I420_SIMD_ROW(const std::uint8_t* src,
                                                                std::uint8_t* luma,
                                                                std::uint8_t* chroma,
                                                                std::uint32_t count, Chroma kind,
                                                                Order order) {
    SimdRow<VMC_I420_SIMD_LAYOUT>(src, luma, chroma, count, kind, order);
}

}  // namespace I420
}  // namespace TQZCapture
#endif
