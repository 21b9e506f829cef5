#include "viewer/pixel_rows_simd.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define TELORUS_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace telorus::viewer {

#ifdef TELORUS_X86_VECTORS
namespace {

// The per-channel constants, loaded once per row: the mask that isolates the
// channel's bits in each byte (it also keeps the neighbouring byte's bits out
// of the 16-bit shift), the shift that brings them to the bottom, and the
// 16-entry level table.
struct Channel128 {
  __m128i mask, shift, table;
};

__attribute__((target("ssse3"))) inline Channel128 LoadChannel(const Levels8& levels, int c) {
  return {_mm_set1_epi8(static_cast<char>(levels.mask[c])), _mm_cvtsi32_si128(levels.shift[c]),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.level[c]))};
}

__attribute__((target("ssse3"))) inline __m128i Level16(__m128i pixels, const Channel128& c) {
  return _mm_shuffle_epi8(c.table, _mm_srl_epi16(_mm_and_si128(pixels, c.mask), c.shift));
}

__attribute__((target("ssse3"))) std::size_t Levels8Ssse3(const std::uint8_t* source, std::size_t count,
                                                          std::uint32_t* dest, const Levels8& levels) {
  const Channel128 red = LoadChannel(levels, 0);
  const Channel128 green = LoadChannel(levels, 1);
  const Channel128 blue = LoadChannel(levels, 2);
  const __m128i zero = _mm_setzero_si128();
  const std::size_t whole = count & ~std::size_t{15};
  for (std::size_t i = 0; i < whole; i += 16) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    const __m128i r = Level16(pixels, red);
    const __m128i g = Level16(pixels, green);
    const __m128i b = Level16(pixels, blue);
    // Memory order of a 0x00RRGGBB word: blue, green, red, 0.
    const __m128i bgLow = _mm_unpacklo_epi8(b, g);
    const __m128i bgHigh = _mm_unpackhi_epi8(b, g);
    const __m128i r0Low = _mm_unpacklo_epi8(r, zero);
    const __m128i r0High = _mm_unpackhi_epi8(r, zero);
    auto* out = reinterpret_cast<__m128i*>(dest + i);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(bgLow, r0Low));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(bgLow, r0Low));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(bgHigh, r0High));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(bgHigh, r0High));
  }
  return whole;
}

// The same 32 pixels at a time. Byte shuffles and unpacks work within each
// 128-bit half, so the input's 8-byte quarters are reordered first (0, 2, 1,
// 3) and the halves of the results put back in order before the stores.
struct Channel256 {
  __m256i mask, table;
  __m128i shift;
};

__attribute__((target("avx2"))) inline Channel256 LoadChannel256(const Levels8& levels, int c) {
  const __m128i table = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.level[c]));
  return {_mm256_set1_epi8(static_cast<char>(levels.mask[c])), _mm256_broadcastsi128_si256(table),
          _mm_cvtsi32_si128(levels.shift[c])};
}

__attribute__((target("avx2"))) inline __m256i Level32(__m256i pixels, const Channel256& c) {
  return _mm256_shuffle_epi8(c.table, _mm256_srl_epi16(_mm256_and_si256(pixels, c.mask), c.shift));
}

__attribute__((target("avx2"))) std::size_t Levels8Avx2(const std::uint8_t* source, std::size_t count,
                                                        std::uint32_t* dest, const Levels8& levels) {
  const Channel256 red = LoadChannel256(levels, 0);
  const Channel256 green = LoadChannel256(levels, 1);
  const Channel256 blue = LoadChannel256(levels, 2);
  const __m256i zero = _mm256_setzero_si256();
  const std::size_t whole = count & ~std::size_t{31};
  for (std::size_t i = 0; i < whole; i += 32) {
    const __m256i loaded = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(source + i));
    // Halves: pixels 0-7 and 16-23 | 8-15 and 24-31.
    const __m256i pixels = _mm256_permute4x64_epi64(loaded, 0xD8);
    const __m256i r = Level32(pixels, red);
    const __m256i g = Level32(pixels, green);
    const __m256i b = Level32(pixels, blue);
    const __m256i bgLow = _mm256_unpacklo_epi8(b, g);   // 0-7 | 8-15
    const __m256i bgHigh = _mm256_unpackhi_epi8(b, g);  // 16-23 | 24-31
    const __m256i r0Low = _mm256_unpacklo_epi8(r, zero);
    const __m256i r0High = _mm256_unpackhi_epi8(r, zero);
    const __m256i p0 = _mm256_unpacklo_epi16(bgLow, r0Low);    // 0-3 | 8-11
    const __m256i p1 = _mm256_unpackhi_epi16(bgLow, r0Low);    // 4-7 | 12-15
    const __m256i p2 = _mm256_unpacklo_epi16(bgHigh, r0High);  // 16-19 | 24-27
    const __m256i p3 = _mm256_unpackhi_epi16(bgHigh, r0High);  // 20-23 | 28-31
    auto* out = reinterpret_cast<__m256i*>(dest + i);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(p0, p1, 0x31));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(p2, p3, 0x20));
    _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(p2, p3, 0x31));
  }
  return whole + Levels8Ssse3(source + whole, count - whole, dest + whole, levels);
}

// 32-bit little-endian pixels with red, green and blue at shifts 16, 8 and 0
// are the memory pixels already, but for the top byte.
__attribute__((target("avx2"))) std::size_t Rgb32Avx2(const std::uint8_t* source, std::size_t count,
                                                      std::uint32_t* dest) {
  const __m256i rgb = _mm256_set1_epi32(0x00FFFFFF);
  const std::size_t whole = count & ~std::size_t{15};
  for (std::size_t i = 0; i < whole; i += 16) {
    const auto* in = reinterpret_cast<const __m256i*>(source + 4 * i);
    auto* out = reinterpret_cast<__m256i*>(dest + i);
    _mm256_storeu_si256(out, _mm256_and_si256(_mm256_loadu_si256(in), rgb));
    _mm256_storeu_si256(out + 1, _mm256_and_si256(_mm256_loadu_si256(in + 1), rgb));
  }
  return whole;
}

enum class VectorLevel { None, Ssse3, Avx2 };

VectorLevel Supported() {
  static const VectorLevel level = __builtin_cpu_supports("avx2")    ? VectorLevel::Avx2
                                   : __builtin_cpu_supports("ssse3") ? VectorLevel::Ssse3
                                                                     : VectorLevel::None;
  return level;
}

}  // namespace
#endif

std::size_t ConvertLevels8Vector(const std::uint8_t* source, std::size_t count, std::uint32_t* dest,
                                 const Levels8& levels) {
#ifdef TELORUS_X86_VECTORS
  switch (Supported()) {
    case VectorLevel::Avx2: return Levels8Avx2(source, count, dest, levels);
    case VectorLevel::Ssse3: return Levels8Ssse3(source, count, dest, levels);
    case VectorLevel::None: break;
  }
#else
  (void)source, (void)count, (void)dest, (void)levels;
#endif
  return 0;
}

std::size_t ConvertRgb32Vector(const std::uint8_t* source, std::size_t count, std::uint32_t* dest) {
#ifdef TELORUS_X86_VECTORS
  if (Supported() == VectorLevel::Avx2) return Rgb32Avx2(source, count, dest);
#else
  (void)source, (void)count, (void)dest;
#endif
  return 0;
}

}  // namespace telorus::viewer
