#include "viewer/pixel_rows_simd.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define TELORUS_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace telorus::viewer {

#ifdef TELORUS_X86_VECTORS
namespace {

// One channel of 16 pixels: isolate its bits, move them to the bottom of each
// byte (the mask keeps bits of the neighbouring byte out), look the level up.
__attribute__((target("ssse3"))) inline __m128i Channel16(__m128i pixels, const Levels8& levels,
                                                            int channel) {
  const __m128i bits = _mm_and_si128(pixels, _mm_set1_epi8(static_cast<char>(levels.mask[channel])));
  const __m128i index = _mm_srl_epi16(bits, _mm_cvtsi32_si128(levels.shift[channel]));
  const __m128i table = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels.level[channel]));
  return _mm_shuffle_epi8(table, index);
}

__attribute__((target("ssse3"))) std::size_t Levels8Ssse3(const std::uint8_t* source,
                                                          std::size_t count, std::uint32_t* dest,
                                                          const Levels8& levels) {
  const std::size_t whole = count & ~std::size_t{15};
  const __m128i zero = _mm_setzero_si128();
  for (std::size_t i = 0; i < whole; i += 16) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + i));
    const __m128i red = Channel16(pixels, levels, 0);
    const __m128i green = Channel16(pixels, levels, 1);
    const __m128i blue = Channel16(pixels, levels, 2);
    // Memory order of a 0x00RRGGBB word: blue, green, red, 0.
    const __m128i blueGreenLow = _mm_unpacklo_epi8(blue, green);
    const __m128i blueGreenHigh = _mm_unpackhi_epi8(blue, green);
    const __m128i redZeroLow = _mm_unpacklo_epi8(red, zero);
    const __m128i redZeroHigh = _mm_unpackhi_epi8(red, zero);
    auto* out = reinterpret_cast<__m128i*>(dest + i);
    _mm_storeu_si128(out, _mm_unpacklo_epi16(blueGreenLow, redZeroLow));
    _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(blueGreenLow, redZeroLow));
    _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(blueGreenHigh, redZeroHigh));
    _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(blueGreenHigh, redZeroHigh));
  }
  return whole;
}

bool HasSsse3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}

}  // namespace
#endif

std::size_t ConvertLevels8Vector(const std::uint8_t* source, std::size_t count,
                                 std::uint32_t* dest, const Levels8& levels) {
#ifdef TELORUS_X86_VECTORS
  if (HasSsse3()) return Levels8Ssse3(source, count, dest, levels);
#else
  (void)source, (void)count, (void)dest, (void)levels;
#endif
  return 0;
}

}  // namespace telorus::viewer
