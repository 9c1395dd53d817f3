// Delay lines with their sample store held inside the object: the feedback echo's
// fractional delay and the buffer-rate varispeed unit.
//
// The stores are large (176400 floats, 705600 bytes, by default), so these units
// are meant to live inside a heap-allocated owner; copying is deleted by the base.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "dsp/UnitProcessorBase.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kovalith {

namespace delay_detail {

// Reduces any index into 0..capacity-1.
inline int wrapIndex(long long index, int capacity) {
    long long r = index % capacity;
    return static_cast<int>(r < 0 ? r + capacity : r);
}

#if defined(__SSE2__)
// Lane by lane: yes where the mask is set, no elsewhere, every bit as it stands.
inline __m128 select(__m128 mask, __m128 yes, __m128 no) {
    return _mm_or_ps(_mm_and_ps(mask, yes), _mm_andnot_ps(mask, no));
}
#endif

// The last min(count, capacity) slots of a ring store up to and including the
// write position w (the slot written next), oldest first, into out.
template <typename T, std::size_t Capacity>
void copyHistory(const std::array<T, Capacity>& store, int w, T* out, int count) {
    const int capacity = static_cast<int>(Capacity);
    const int k = count < capacity ? count : capacity;
    for (int n = k - 1, j = 0; n >= 0; --n, ++j) out[j] = store[wrapIndex(static_cast<long long>(w) - n, capacity)];
}

}  // namespace delay_detail

// The feedback echo: a delay set in seconds, read with 4-point third-order Hermite
// interpolation. The realised delay is seconds * sampleRate + 1 samples (at least
// one). When the time moves by 4..7 samples the new taps are blended with the old
// tap values so that the jump does not click.
template <typename T, int Capacity = 176400>
class CUnitFracDelay : public CUnitProcessorBase<T> {
    static_assert(Capacity > 8, "the interpolator needs a window of four samples");

public:
    // The four-sample window reaches D + 3 samples back, and the slot being written
    // is not history, so D stops four short of the capacity.
    static constexpr int kMaxIntegerDelay = Capacity - 4;

    // Sets the delay time. Negative and NaN times are refused: the previous time is
    // kept and returned. Longer times than the store holds are limited to it.
    T setDelayTime(T seconds) {
        if (!(seconds >= T(0))) return time_;
        const double product = static_cast<double>(seconds) * static_cast<double>(this->sampleRate);
        if (!(product == product)) return time_;  // NaN sample rate
        // One rounding to float, after the product and the difference in double.
        float a = static_cast<float>(product - 1.0);
        // A zero time reaches a = -1: D = 0 with t = 1, the one-sample minimum.
        if (a < -1.0f) a = -1.0f;

        const int oldDelay = integerDelay_;
        if (a > static_cast<float>(kMaxIntegerDelay)) {
            integerDelay_ = kMaxIntegerDelay;
            fraction_ = T(0);
            time_ = T(static_cast<double>(kMaxIntegerDelay + 1) / static_cast<double>(this->sampleRate));
        } else {
            integerDelay_ = std::max(static_cast<int>(std::ceil(a)), 0);
            fraction_ = T(static_cast<float>(integerDelay_) - a);
            time_ = seconds;
        }
        retap(std::abs(oldDelay - integerDelay_));
        return time_;
    }

    virtual T getDelayTime() { return time_; }
    virtual int getDelaySamples() { return integerDelay_; }

    // The store as history, oldest first (delay_detail::copyHistory).
    void copyHistory(T* out, int count) const { delay_detail::copyHistory(store_, w_, out, count); }

    T process(T x) override {
        store_[w_] = x + tinyOffset_;
        const T y = interpolate(store_[i3_], store_[i2_], store_[i1_], store_[i0_]);
        if (++w_ >= capacity_) w_ = 0;
        i3_ = i2_;
        i2_ = i1_;
        i1_ = i0_;
        if (++i0_ >= capacity_) i0_ = 0;
        tinyOffset_ = -tinyOffset_;
        this->lastOutput = y;
        return y;
    }

    // Silences the store; time and read window stay.
    void reset() override {
        this->lastOutput = T(0);
        store_.fill(T(0));
    }

    // What process() will return `ahead` calls from now (0: the next call), for an
    // owner that reads a run of outputs before it writes the run's inputs. Exact
    // while ahead < getDelaySamples(): the taps then hold samples already written.
    T peek(int ahead) const {
        return interpolate(store_[slot(ahead)], store_[slot(ahead + 1)], store_[slot(ahead + 2)],
                           store_[slot(ahead + 3)]);
    }

    // peek(0) .. peek(count - 1) into out. The window's four slots follow each
    // other in the store once a delay time was set; while the run does not pass
    // the store's end they are read without wrapping each index, four outputs at
    // a time where SSE2 is there (each lane the scalar arithmetic).
    void peekRun(T* out, int count) const {
        if (!windowStraight(count)) {
            for (int n = 0; n < count; ++n) out[n] = peek(n);
            return;
        }
        const T* s = store_.data() + i3_;
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value) {
            if (count >= 4) {
                // The last four may overlap the four before; they are the same values.
                for (int n = 0; n < count; n += 4) {
                    const int m = std::min(n, count - 4);
                    _mm_storeu_ps(out + m, interpolate4(s + m));
                }
                return;
            }
        }
#endif
        for (int n = 0; n < count; ++n) out[n] = interpolate(s[n], s[n + 1], s[n + 2], s[n + 3]);
    }

    // What count process() calls with these inputs leave behind, for an owner
    // that took their outputs from peekRun before: the inputs are stored, the
    // window moves on, and lastOutput is the last call's output. count is at
    // most the store's length.
    void writeRun(const T* in, int count) {
        if (count <= 0) return;
        storeRun(in, count);
        if (windowStraight(count + 1)) {
            const T* s = store_.data() + i3_ + (count - 1);
            this->lastOutput = interpolate(s[0], s[1], s[2], s[3]);
        } else {
            this->lastOutput = peek(count - 1);
        }
        moveWindow(count);
    }

    // writeRun for an owner whose peekRun also gave the last call's output,
    // `last` (exact when the delay is at least count samples, as peek says).
    void writeRun(const T* in, int count, T last) {
        if (count <= 0) return;
        storeRun(in, count);
        this->lastOutput = last;
        moveWindow(count);
    }

private:
    // Hermite from x0 towards x1 at the fraction, in the usual shared-term form.
    T interpolate(T xm1, T x0, T x1, T x2) const {
        const T c = (x1 - xm1) * T(0.5);
        const T v = x0 - x1;
        const T w2 = c + v;
        const T a = w2 + v + (x2 - x0) * T(0.5);
        const T bneg = w2 + a;
        const T t = fraction_;
        return ((a * t - bneg) * t + c) * t + x0;
    }

#if defined(__SSE2__)
    // interpolate() of the windows starting at s[0] .. s[3], one per lane.
    __m128 interpolate4(const float* s) const {
        const __m128 xm1 = _mm_loadu_ps(s), x0 = _mm_loadu_ps(s + 1), x1 = _mm_loadu_ps(s + 2),
                     x2 = _mm_loadu_ps(s + 3);
        const __m128 half = _mm_set1_ps(0.5f), t = _mm_set1_ps(fraction_);
        const __m128 c = _mm_mul_ps(_mm_sub_ps(x1, xm1), half);
        const __m128 v = _mm_sub_ps(x0, x1);
        const __m128 w2 = _mm_add_ps(c, v);
        const __m128 a = _mm_add_ps(_mm_add_ps(w2, v), _mm_mul_ps(_mm_sub_ps(x2, x0), half));
        const __m128 bneg = _mm_add_ps(w2, a);
        const __m128 p = _mm_mul_ps(_mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(a, t), bneg), t), c), t);
        return _mm_add_ps(p, x0);
    }
#endif

    // The inputs of a run into the store, each with the anti-denormal offset.
    void storeRun(const T* in, int count) {
        int n = 0;
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value) {
            // Away from the store's end, four inputs at a time with the offset's
            // alternating signs in the lanes; an even count leaves its sign as it was.
            const __m128 offsets = _mm_setr_ps(tinyOffset_, -tinyOffset_, tinyOffset_, -tinyOffset_);
            for (; n + 4 <= count && w_ + 4 <= capacity_; n += 4, w_ += 4)
                _mm_storeu_ps(store_.data() + w_, _mm_add_ps(_mm_loadu_ps(in + n), offsets));
            if (w_ >= capacity_) w_ = 0;
        }
#endif
        for (; n < count; ++n) {
            store_[w_] = in[n] + tinyOffset_;
            tinyOffset_ = -tinyOffset_;
            if (++w_ >= capacity_) w_ = 0;
        }
    }

    // The read window on by count calls; without reaching the store's end the
    // four slots just move by count.
    void moveWindow(int count) {
        if (windowStraight(count + 1)) {
            i3_ += count, i2_ += count, i1_ += count, i0_ += count;
            return;
        }
        const int i3 = slot(count), i2 = slot(count + 1), i1 = slot(count + 2), i0 = slot(count + 3);
        i3_ = i3, i2_ = i2, i1_ = i1, i0_ = i0;
    }

    // Whether the window's four slots follow each other in the store and the
    // next `ahead` slots after it are there without wrapping.
    bool windowStraight(int ahead) const {
        return i1_ == i0_ - 1 && i2_ == i0_ - 2 && i3_ == i0_ - 3 && i0_ + ahead <= capacity_;
    }

    // The k-th slot the read window passes over: the window's own four slots
    // (oldest first), then the ones after the newest. The window of the call
    // `ahead` calls from now is slot(ahead) .. slot(ahead + 3).
    int slot(int k) const {
        if (k < 3) return k == 0 ? i3_ : (k == 1 ? i2_ : i1_);
        const int i = i0_ + (k - 3);
        return i >= capacity_ ? i - capacity_ : i;
    }

    // Moves the read window to the new integer delay; a move of 4..7 samples
    // crossfades the new window's slots with what the old window held.
    void retap(int moved) {
        const T old0 = store_[i0_], old1 = store_[i1_], old2 = store_[i2_], old3 = store_[i3_];
        i0_ = delay_detail::wrapIndex(static_cast<long long>(w_) - integerDelay_, capacity_);
        i1_ = i0_ == 0 ? capacity_ - 1 : i0_ - 1;
        i2_ = i1_ == 0 ? capacity_ - 1 : i1_ - 1;
        i3_ = i2_ == 0 ? capacity_ - 1 : i2_ - 1;
        if (moved < 4 || moved > 7) return;
        store_[i0_] = T(0.8) * store_[i0_] + T(0.2) * old0;
        store_[i1_] = T(0.6) * store_[i1_] + T(0.4) * old1;
        store_[i2_] = T(0.4) * store_[i2_] + T(0.6) * old2;
        store_[i3_] = T(0.2) * store_[i3_] + T(0.8) * old3;
    }

    T tinyOffset_ = T(1e-30);
    T time_ = T(0);
    T fraction_ = T(0);
    int integerDelay_ = 0;
    int capacity_ = Capacity;
    int w_ = 0;
    int i0_ = 1, i1_ = 1, i2_ = 1, i3_ = 1;
    std::array<T, Capacity> store_{};
};

// Buffer-rate playback: two linearly interpolated read heads, one loop length
// apart, drift against the writer at (1 - speed) samples per sample and are
// crossfaded by the head position, so the recent past replays at another speed
// without a jump when head 1 wraps. The owner writes `speed` and `loopLength`
// directly; both are read anew every sample.
template <typename T, int Capacity = 176400>
class CUnitVariSpeedDelay : public CUnitProcessorBase<T> {
    static_assert(Capacity > 2, "the varispeed store needs room for two heads");

public:
    static constexpr int kMaxLoopLength = Capacity - 1;

    // The store as history, oldest first (delay_detail::copyHistory).
    void copyHistory(T* out, int count) const { delay_detail::copyHistory(store_, w_, out, count); }

    T process(T x) override {
        this->lastOutput = step(x, limitedLoop(), T(1) - speed);
        return this->lastOutput;
    }

    // process() for a run of samples over which `speed` and `loopLength` stay.
    void processRun(const T* in, T* out, int count) {
        const T loop = limitedLoop(), drift = T(1) - speed;
        for (int n = 0; n < count; ++n) out[n] = step(in[n], loop, drift);
        if (count > 0) this->lastOutput = out[count - 1];
    }

    // processRun for two units (the two channels), each over its own input and
    // output: each ends as its own processRun would leave it, with the same
    // outputs. Where the target has SSE2 and the two write indices agree, the four
    // read heads go through one four-lane computation per sample. outA must not
    // overlap inB: the units take their samples in turns, not one run after the other.
    // Bit for bit the same includes NaN outputs as long as every NaN is the one the
    // arithmetic makes; where an input NaN of another sign or payload meets a second
    // NaN, which one comes out follows each build's operand order.
    static void processRunPair(CUnitVariSpeedDelay& a, const T* inA, T* outA, CUnitVariSpeedDelay& b, const T* inB,
                               T* outB, int count) {
#if defined(__SSE2__)
        if constexpr (std::is_same<T, float>::value) {
            if (&a != &b && a.w_ == b.w_ && count > 0) {
                runPair(a, inA, outA, b, inB, outB, count);
                return;
            }
        }
#endif
        a.processRun(inA, outA, count);
        b.processRun(inB, outB, count);
    }

    // Silences the store; the head position and write index stay.
    void reset() override {
        this->lastOutput = T(0);
        store_.fill(T(0));
    }

    // Silences the newest `count` samples only (the whole store from the
    // capacity on). While the loop is at most (count - 2) / 2 samples long that
    // is all the heads can still read, so the unit goes on as after reset()
    // without clearing four seconds of store.
    void silenceRecent(int count) {
        if (count >= capacity_) {
            reset();
            return;
        }
        this->lastOutput = T(0);
        if (count <= 0) return;
        // store[w - count] .. store[w - 1], in at most two pieces around the wrap.
        const int older = count > w_ ? count - w_ : 0;
        std::fill(store_.begin() + (w_ - (count - older)), store_.begin() + w_, T(0));
        std::fill(store_.end() - older, store_.end(), T(0));
    }

    T getPosition() const { return position_; }

    T speed = T(1);
    T loopLength = T(0);

private:
    // A negative or NaN loop length means none; a longer one than the store is cut.
    T limitedLoop() const {
        return loopLength > T(0) ? (loopLength < T(kMaxLoopLength) ? loopLength : T(kMaxLoopLength)) : T(0);
    }

    // One sample with the loop length limited and the heads' drift 1 - speed.
    T step(T x, T loop, T drift) {
        store_[w_] = x;
        position_ = drift + position_;
        if (position_ < T(0))
            position_ = loop;
        else if (!(position_ <= loop))  // also catches a NaN speed
            position_ = T(0);

        // Read positions in single precision, as the fields are.
        const T writePos = static_cast<T>(w_);
        const T head1 = readAt(writePos - position_);
        const T head2 = readAt(writePos - loop - position_);
        const T g = loop > T(0) ? position_ / loop : T(1);
        const T y = g * head1 + (T(1) - g) * head2;

        if (++w_ >= capacity_) w_ = 0;
        return y;
    }

    // Linear interpolation at a position that lies at most two capacities below 0.
    T readAt(T d) const {
        const T k = static_cast<T>(capacity_);
        if (d < T(0)) d += k;
        if (d < T(0)) d += k;
        // d is now in [0, 2 K), far below 2^23: truncation is the floor, and the
        // ceiling is the floor plus one unless d is whole. Both are exact.
        int f = static_cast<int>(d);
        const T lower = static_cast<T>(f);
        const bool whole = lower == d;
        const T h = whole ? T(0) : (lower + T(1)) - d;
        int c = whole ? f : f + 1;
        if (f >= capacity_) f -= capacity_;
        if (c >= capacity_) c -= capacity_;
        return h * store_[f] + (T(1) - h) * store_[c];
    }

#if defined(__SSE2__)
    // The SSE2 run of processRunPair. Lanes 0 and 1 are head 1 of a and of b,
    // lanes 2 and 3 head 2 of a and of b; each lane does step's and readAt's
    // operations in their order.
    static void runPair(CUnitVariSpeedDelay& a, const float* inA, float* outA, CUnitVariSpeedDelay& b,
                        const float* inB, float* outB, int count) {
        using delay_detail::select;
        const float loopA = a.limitedLoop(), loopB = b.limitedLoop();
        const __m128 loop = _mm_setr_ps(loopA, loopB, loopA, loopB);
        const __m128 drift = _mm_setr_ps(1.0f - a.speed, 1.0f - b.speed, 1.0f - a.speed, 1.0f - b.speed);
        // Head 1 reads at (writePos - 0) - position, which is writePos - position.
        const __m128 headOffset = _mm_setr_ps(0.0f, 0.0f, loopA, loopB);
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        const __m128 loopPositive = _mm_cmpgt_ps(loop, zero);
        const __m128 gWithoutLoop = _mm_andnot_ps(loopPositive, one);  // select()'s half that stays
        __m128 position = _mm_setr_ps(a.position_, b.position_, a.position_, b.position_);
        int w = a.w_;
        for (int n = 0; n < count; ++n) {
            a.store_[w] = inA[n];
            b.store_[w] = inB[n];
            position = _mm_add_ps(drift, position);
            const __m128 inside = _mm_and_ps(_mm_cmple_ps(position, loop), position);  // NaN: 0
            position = select(_mm_cmplt_ps(position, zero), loop, inside);

            const __m128 writePos = _mm_set1_ps(static_cast<float>(w));
            const __m128 heads =
                readHeads(a.store_.data(), b.store_.data(), _mm_sub_ps(_mm_sub_ps(writePos, headOffset), position));
            const __m128 g = _mm_or_ps(_mm_and_ps(loopPositive, _mm_div_ps(position, loop)), gWithoutLoop);
            // g of a and b, then 1 - g of a and b: the weights of the lanes' heads.
            const __m128 terms = _mm_mul_ps(_mm_movelh_ps(g, _mm_sub_ps(one, g)), heads);
            const __m128 y = _mm_add_ps(terms, _mm_movehl_ps(terms, terms));
            outA[n] = _mm_cvtss_f32(y);
            outB[n] = _mm_cvtss_f32(_mm_shuffle_ps(y, y, _MM_SHUFFLE(1, 1, 1, 1)));
            if (++w >= Capacity) w = 0;
        }
        a.position_ = _mm_cvtss_f32(position);
        b.position_ = _mm_cvtss_f32(_mm_shuffle_ps(position, position, _MM_SHUFFLE(1, 1, 1, 1)));
        a.w_ = w;
        b.w_ = w;
        a.lastOutput = outA[count - 1];
        b.lastOutput = outB[count - 1];
    }

    // readAt for the four lanes of runPair: lanes 0 and 2 read storeA, 1 and 3 storeB.
    static __m128 readHeads(const float* storeA, const float* storeB, __m128 d) {
        const __m128 zero = _mm_setzero_ps(), one = _mm_set1_ps(1.0f);
        const __m128 k = _mm_set1_ps(static_cast<float>(Capacity));
        // Adding +0 where d is not negative keeps d, or turns a -0 into +0, which
        // reads the same slot with the same weight.
        d = _mm_add_ps(d, _mm_and_ps(_mm_cmplt_ps(d, zero), k));
        d = _mm_add_ps(d, _mm_and_ps(_mm_cmplt_ps(d, zero), k));
        const __m128i truncated = _mm_cvttps_epi32(d);
        const __m128 lower = _mm_cvtepi32_ps(truncated);
        const __m128 fractional = _mm_cmpneq_ps(lower, d);
        const __m128 h = _mm_and_ps(fractional, _mm_sub_ps(_mm_add_ps(lower, one), d));
        const __m128i last = _mm_set1_epi32(Capacity - 1);
        const __m128i f =
            _mm_sub_epi32(truncated, _mm_and_si128(_mm_cmpgt_epi32(truncated, last), _mm_set1_epi32(Capacity)));
        __m128 atFloor, atCeiling;
        if (!_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(f, last)))) {
            // Each slot and its successor (the ceiling where d is not whole) by
            // loads of one float: head 1 often reads the slot written just
            // before, and a wider load over that store would wait for it to
            // reach the cache instead of taking its value on the way.
            const float* at[4] = {storeA + static_cast<unsigned>(_mm_cvtsi128_si32(f)),
                                  storeB + static_cast<unsigned>(_mm_cvtsi128_si32(_mm_shuffle_epi32(f, 1))),
                                  storeA + static_cast<unsigned>(_mm_cvtsi128_si32(_mm_shuffle_epi32(f, 2))),
                                  storeB + static_cast<unsigned>(_mm_cvtsi128_si32(_mm_shuffle_epi32(f, 3)))};
            atFloor = _mm_setr_ps(at[0][0], at[1][0], at[2][0], at[3][0]);
            const __m128 next = _mm_setr_ps(at[0][1], at[1][1], at[2][1], at[3][1]);
            atCeiling = delay_detail::select(fractional, next, atFloor);
        } else {
            readAcrossEnd(storeA, storeB, f, fractional, atFloor, atCeiling);
        }
        return _mm_add_ps(_mm_mul_ps(h, atFloor), _mm_mul_ps(_mm_sub_ps(one, h), atCeiling));
    }

    // readHeads' loads when a head is on the store's last slot, whose successor is
    // slot 0. Rare, so kept out of the loop (GCC and Clang, the compilers that
    // define __SSE2__, both take the attribute).
    __attribute__((noinline)) static void readAcrossEnd(const float* storeA, const float* storeB, __m128i f,
                                                        __m128 fractional, __m128& atFloor, __m128& atCeiling) {
        alignas(16) int floorIndex[4];
        alignas(16) float floorValue[4], ceilingValue[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(floorIndex), f);
        const int fractionalLanes = _mm_movemask_ps(fractional);
        for (int lane = 0; lane < 4; ++lane) {
            const float* store = lane & 1 ? storeB : storeA;
            const int c = floorIndex[lane] + ((fractionalLanes >> lane) & 1);
            floorValue[lane] = store[floorIndex[lane]];
            ceilingValue[lane] = store[c < Capacity ? c : c - Capacity];
        }
        atFloor = _mm_load_ps(floorValue);
        atCeiling = _mm_load_ps(ceilingValue);
    }

#endif

    T position_ = T(0);
    int capacity_ = Capacity;
    int w_ = 0;
    std::array<T, Capacity> store_{};
};

}  // namespace kovalith
