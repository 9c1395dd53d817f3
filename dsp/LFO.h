// Wavetable LFO: each of eight shapes is rendered once into a table when it is
// chosen; playback steps a fixed-point phase (table-index bits above 20 fraction
// bits, 9.20 for the 512-entry table) and interpolates linearly between entries.
#pragma once

#include <cmath>
#include <cstdint>
#include <ctime>

#include "dsp/UnitProcessorBase.h"

namespace kovalith {

// A small linear congruential generator with the C library's output range
// 0..32767. The unit owns its own, so no global state is shared between LFOs.
class CRandom15 {
public:
    static constexpr int kMax = 32767;
    void seed(unsigned s) { state_ = s; }
    int next() {
        state_ = state_ * 1103515245u + 12345u;
        return static_cast<int>((state_ >> 16) & 0x7fffu);
    }

private:
    uint32_t state_ = 1;
};

template <typename T, int TableSize = 512>
class CUnitLFO : public CUnitProcessorBase<T> {
    static_assert(TableSize >= 8 && (TableSize & (TableSize - 1)) == 0,
                  "the table size must be a power of two");
    static_assert(TableSize <= 2048, "the phase must fit 32 bits with 20 fraction bits");

public:
    enum Shape { kSinus = 0, kTriangle, kSawUp, kSawDown, kSquare, kExponent, kSampleAndHold, kRandom, kNumShapes };

    static constexpr int kFractionBits = 20;
    static constexpr uint32_t kFractionMask = (1u << kFractionBits) - 1;
    // One full cycle of the phase; the phase is kept below it by masking.
    static constexpr uint32_t kPhaseCycle = static_cast<uint32_t>(TableSize) << kFractionBits;
    static constexpr uint32_t kPhaseMask = kPhaseCycle - 1;

    CUnitLFO() { setRate(T(1)); }

    // Renders the table of shape 0..7 at once (the phase runs on). Any other number
    // is stored but renders nothing: the table stays.
    void setShape(int shape) {
        shape_ = shape;
        switch (shape) {
            case kSinus: renderSine(); break;
            case kTriangle: renderTriangle(false); break;
            case kSawUp: renderSaw(T(1)); break;
            case kSawDown: renderSaw(T(-1)); break;
            case kSquare: renderSquare(); break;
            case kExponent: renderTriangle(true); break;
            case kSampleAndHold: renderSampleAndHold(); break;
            case kRandom: renderRandom(); break;
            default: break;
        }
        table_[TableSize] = table_[0];
    }

    // Sets the rate in Hz at the unit's sample rate. "s & h" runs its table at a
    // tenth of the rate (so it holds ten values per period); call again after a
    // change to or from that shape. A NaN rate is refused.
    void setRate(T hz) {
        if (hz != hz) return;
        if (shape_ == kSampleAndHold) hz = hz / T(10);
        rate_ = hz;
        T steps = rate_ * T(TableSize) / this->sampleRate * scale_;
        if (steps != steps) steps = T(0);  // 0 Hz at a zero sample rate
        // Only the phase modulo one cycle matters, so a bounded value keeps the
        // 64-bit truncation defined without changing any ordinary increment.
        const T bound = T(4.0e18);
        if (steps > bound) steps = bound;
        if (steps < -bound) steps = -bound;
        increment_ = static_cast<uint32_t>(static_cast<int64_t>(steps));
    }

    // One sample of the running oscillator: the value at the current phase, then
    // the phase advances.
    T tick() {
        const T y = readAt(phase_);
        phase_ = (phase_ + increment_) & kPhaseMask;
        this->lastOutput = y;
        return y;
    }

    // Reads the table at a phase in radians and continues from there. Phases
    // outside [0, 2 pi) wrap; a non-finite phase reads from 0.
    T process(T phaseRadians) override {
        T cycles = phaseRadians * inverseTwoPi_;
        cycles = cycles - std::floor(cycles);
        if (!(cycles >= T(0) && cycles < T(1))) cycles = T(0);
        const uint32_t c =
            static_cast<uint32_t>(static_cast<int64_t>(cycles * T(TableSize) * scale_)) & kPhaseMask;
        const T y = readAt(c);
        phase_ = (c + increment_) & kPhaseMask;
        this->lastOutput = y;
        return y;
    }

    void reset() override {
        phase_ = 0;
        this->lastOutput = T(0);
    }

    // The owner sets the phase directly for tempo sync: kPhaseCycle is one cycle.
    void setPhase(uint32_t phase) { phase_ = phase & kPhaseMask; }
    // The same from a fraction of a cycle, wrapped into [0, 1) and truncated to the
    // fixed-point format; a non-finite fraction gives phase 0.
    void setPhaseFraction(double cycles) {
        cycles -= std::floor(cycles);
        if (!(cycles >= 0.0 && cycles < 1.0)) cycles = 0.0;
        setPhase(static_cast<uint32_t>(cycles * kPhaseCycle));
    }
    uint32_t getPhase() const { return phase_; }
    uint32_t getIncrement() const { return increment_; }
    T getRate() const { return rate_; }
    int getShape() const { return shape_; }

    // Entry i of the table, 0..TableSize (the last is the guard, equal to entry 0).
    T tableEntry(int i) const { return table_[i]; }

    // From now on the random shapes are rendered from this seed every time they
    // are set, for reproducible renders and tests.
    void setRandomSeed(unsigned seed) {
        fixedSeed_ = seed;
        hasFixedSeed_ = true;
    }
    // Back to seeding from the time of day, the default.
    void clearRandomSeed() { hasFixedSeed_ = false; }

    bool interpolate = true;

private:
    T readAt(uint32_t phase) const {
        const uint32_t index = phase >> kFractionBits;
        if (!interpolate) return table_[index];
        const T t = static_cast<T>(phase & kFractionMask) * inverseScale_;
        // index + 1 may be the guard entry.
        return table_[index] * (T(1) - t) + table_[index + 1] * t;
    }

    void renderSine() {
        for (int i = 0; i < TableSize; ++i)
            table_[i] = static_cast<T>(std::sin(2.0 * static_cast<double>(this->pi) * i / TableSize));
    }

    // A ramp q over 2 quarter periods up and back down, read a quarter period in,
    // so the triangle starts at 0 rising; the exponent shape is its cube.
    void renderTriangle(bool cubed) {
        constexpr int quarter = TableSize / 4;
        for (int i = 0; i < TableSize; ++i) {
            const int k = (i + quarter) % TableSize;
            T q = k <= 2 * quarter ? T(k) / T(quarter) - T(1) : -(T(k - 2 * quarter) / T(quarter) - T(1));
            table_[i] = cubed ? q * q * q : q;
        }
    }

    void renderSaw(T sign) {
        constexpr int quarter = TableSize / 4;
        const T halfSpan = T(TableSize - 1) / T(2);  // 255.5 for 512 entries
        for (int i = 0; i < TableSize; ++i) {
            const int k = (i + quarter) % TableSize;
            table_[i] = sign * (T(k) / halfSpan - T(1));
        }
    }

    void renderSquare() {
        for (int i = 0; i < TableSize; ++i) table_[i] = i < TableSize / 2 ? T(-1) : T(1);
    }

    // Held random steps: a new value at about one entry in sixteen.
    void renderSampleAndHold() {
        seedRandom();
        const int threshold = holdThreshold();
        table_[0] = T(0);
        for (int i = 1; i < TableSize; ++i) {
            if (random_.next() % TableSize <= threshold)
                table_[i] = table_[i - 1];
            else
                table_[i] = randomValue();
        }
        normalise();
    }

    void renderRandom() {
        seedRandom();
        for (int i = 0; i < TableSize; ++i) table_[i] = randomValue();
        normalise();
    }

    // 482 for 512 entries: the integer part of N * 0.93457937^(ln(N/2) / ln N), in single precision.
    static int holdThreshold() {
        const float exponent = std::log(static_cast<float>(TableSize / 2)) / std::log(static_cast<float>(TableSize));
        return static_cast<int>(static_cast<float>(TableSize) * std::pow(0.9345793724060059f, exponent));
    }

    T randomValue() { return T(random_.next()) / T(CRandom15::kMax) * T(2) - T(1); }

    void seedRandom() {
        random_.seed(hasFixedSeed_ ? fixedSeed_ : static_cast<unsigned>(std::time(nullptr)));
    }

    // Zero mean, largest entry exactly 1 (the smallest may lie below -1).
    void normalise() {
        double sum = 0.0;
        for (int i = 0; i < TableSize; ++i) sum += table_[i];
        const T mean = static_cast<T>(sum / TableSize);
        T largest = T(0);
        for (int i = 0; i < TableSize; ++i) {
            table_[i] -= mean;
            if (table_[i] > largest) largest = table_[i];
        }
        if (largest != T(0))
            for (int i = 0; i < TableSize; ++i) table_[i] /= largest;
    }

    int shape_ = 0;
    T inverseScale_ = T(1.0 / (1u << kFractionBits));
    T scale_ = T(std::pow(2.0, kFractionBits));
    T inverseTwoPi_ = T(1) / (T(2) * this->pi);
    T table_[TableSize + 1] = {};
    T rate_ = T(0);
    uint32_t phase_ = 0;
    uint32_t increment_ = 0;
    CRandom15 random_;
    unsigned fixedSeed_ = 0;
    bool hasFixedSeed_ = false;
};

}  // namespace kovalith
