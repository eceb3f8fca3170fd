#ifndef VIEW_KERNELS4_H
#define VIEW_KERNELS4_H

// What the AVX2 kernels of both samplings do with four values at a time:
// turn them into the codes and keys of view/valuewindow.h, exactly as the
// scalar kernels do one by one, and find the least over a packet.

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CTSLAB_X86_KERNELS
#include "view/valuewindow.h"

#include <immintrin.h>

#include <limits>

// Picture values to codes; 0 where not taken or outside the window.
struct PictureCodes4
{
    __m128i flip, codeLow, span, one;

    __attribute__((target("avx2"))) explicit PictureCodes4(const ValueWindow &f)
        : flip(_mm_set1_epi32(f.flip)), codeLow(_mm_set1_epi32(f.codeLow)),
          span(_mm_set1_epi32(f.codeHigh - f.codeLow)), one(_mm_set1_epi32(1))
    {
    }

    __attribute__((target("avx2"))) __m128i of(__m128i values, __m128i take) const
    {
        const __m128i turned = _mm_xor_si128(_mm_and_si128(values, take), flip);
        const __m128i rel = _mm_sub_epi32(turned, codeLow);
        const __m128i kept =
                _mm_and_si128(_mm_cmpeq_epi32(_mm_min_epu32(rel, span), rel), take);
        return _mm_and_si128(_mm_add_epi32(rel, one), kept);
    }
};

// Text values to keys; -infinity where not taken or outside the window.
struct TextKeys4
{
    __m256d sign, keptLow, keptHigh, none;

    __attribute__((target("avx2"))) explicit TextKeys4(const ValueWindow &f)
        : sign(_mm256_set1_pd(f.keySign)), keptLow(_mm256_set1_pd(f.keptLow)),
          keptHigh(_mm256_set1_pd(f.keptHigh)),
          none(_mm256_set1_pd(-std::numeric_limits<double>::infinity()))
    {
    }

    __attribute__((target("avx2"))) __m256d of(__m256d values, __m128i take) const
    {
        const __m256d key = _mm256_mul_pd(values, sign);
        const __m256d kept = _mm256_and_pd(
                _mm256_and_pd(_mm256_cmp_pd(key, keptLow, _CMP_GE_OQ),
                              _mm256_cmp_pd(key, keptHigh, _CMP_LE_OQ)),
                _mm256_castsi256_pd(_mm256_cvtepi32_epi64(take)));
        return _mm256_blendv_pd(none, key, kept);
    }
};

__attribute__((target("avx2"))) inline qint32 leastOf(__m128i codes)
{
    codes = _mm_min_epi32(codes, _mm_shuffle_epi32(codes, _MM_SHUFFLE(1, 0, 3, 2)));
    codes = _mm_min_epi32(codes, _mm_shuffle_epi32(codes, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(codes);
}

__attribute__((target("avx2"))) inline double leastOf(__m256d keys)
{
    const __m128d half =
            _mm_min_pd(_mm256_castpd256_pd128(keys), _mm256_extractf128_pd(keys, 1));
    return _mm_cvtsd_f64(_mm_min_sd(half, _mm_unpackhi_pd(half, half)));
}

#endif

#endif // VIEW_KERNELS4_H
