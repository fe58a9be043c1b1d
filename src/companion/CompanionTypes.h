#pragma once

#include "companion/Ledge.h"

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// The cat's eleven behaviour states, in their design order.
enum class CompanionState : std::uint8_t { idle, groom, walk, jump, fall, sleep, perch, nest, stretch, pounce, carried };

inline constexpr std::array<CompanionState, 11> kAllCompanionStates{
    CompanionState::idle,  CompanionState::groom, CompanionState::walk,    CompanionState::jump,
    CompanionState::fall,  CompanionState::sleep, CompanionState::perch,   CompanionState::nest,
    CompanionState::stretch, CompanionState::pounce, CompanionState::carried};

QString rawValue(CompanionState state);
std::optional<CompanionState> companionStateFromRaw(const QString &raw);

enum class CompanionTemper : std::uint8_t { calm, lively };

inline constexpr std::array<CompanionTemper, 2> kAllCompanionTempers{CompanionTemper::calm, CompanionTemper::lively};

QString rawValue(CompanionTemper temper);
std::optional<CompanionTemper> companionTemperFromRaw(const QString &raw);

// What the coordinator asks of the cat.
struct CompanionGoal {
    enum class Kind : std::uint8_t { visit, perch, nest, celebrate, stretch, nap };
    Kind kind = Kind::celebrate;
    Ledge ledge; // only meaningful for visit

    static CompanionGoal visit(const Ledge &l) { return {Kind::visit, l}; }
    static CompanionGoal perch() { return {Kind::perch, {}}; }
    static CompanionGoal nest() { return {Kind::nest, {}}; }
    static CompanionGoal celebrate() { return {Kind::celebrate, {}}; }
    static CompanionGoal stretch() { return {Kind::stretch, {}}; }
    static CompanionGoal nap() { return {Kind::nap, {}}; }

    friend bool operator==(const CompanionGoal &a, const CompanionGoal &b)
    {
        return a.kind == b.kind && (a.kind != Kind::visit || a.ledge == b.ledge);
    }
};

// What happened during a frame.
struct CompanionSignal {
    enum class Kind : std::uint8_t { arrived, landed, fellAsleep, wokeUp };
    Kind kind = Kind::landed;
    CompanionGoal goal; // only meaningful for arrived

    static CompanionSignal arrived(const CompanionGoal &g) { return {Kind::arrived, g}; }
    static CompanionSignal landed() { return {Kind::landed, {}}; }
    static CompanionSignal fellAsleep() { return {Kind::fellAsleep, {}}; }
    static CompanionSignal wokeUp() { return {Kind::wokeUp, {}}; }

    friend bool operator==(const CompanionSignal &a, const CompanionSignal &b)
    {
        return a.kind == b.kind && (a.kind != Kind::arrived || a.goal == b.goal);
    }
};

// Exact comparisons: QPointF's own == is fuzzy, and a seeded run must repeat bit for bit.
inline bool samePoint(const QPointF &a, const QPointF &b) { return a.x() == b.x() && a.y() == b.y(); }

// What the figures draw.
struct CompanionPose {
    QPointF position;    // feet: the middle of the figure's bottom edge
    double facing = 1;   // +1 right, -1 left
    CompanionState state = CompanionState::idle;
    double phase = 0;    // 0 <= phase < 1
    double progress = 0; // 0...1 through stretch and pounce
    bool blink = false;
    QPointF gaze;        // each component -1...1, y up
    double verticalSpeed = 0;

    friend bool operator==(const CompanionPose &a, const CompanionPose &b)
    {
        return samePoint(a.position, b.position) && a.facing == b.facing && a.state == b.state &&
               a.phase == b.phase && a.progress == b.progress && a.blink == b.blink && samePoint(a.gaze, b.gaze) &&
               a.verticalSpeed == b.verticalSpeed;
    }
};

// Everything the brain perceives in a frame.
struct CompanionWorld {
    QRectF bounds;              // the screen's full frame
    double floorY = 0;          // bottom of the visible area
    std::vector<Ledge> ledges;  // window tops; a visited window's ledge first
    std::optional<Ledge> perch; // top of the ask panel
    std::optional<Ledge> nest;  // by the focus timer panel
    std::optional<QPointF> cursor;
    double idleSeconds = 0;
    bool walksOnWindows = true;
    std::optional<Ledge> home; // top of the workspace window
    bool wanders = true;
    std::optional<QRectF> homeFrame;
    std::optional<double> ceilingY; // top of the visible area
    int hour = 12;
    bool hungry = false;
    CompanionTemper temper = CompanionTemper::calm;

    CompanionWorld() = default;
    CompanionWorld(const QRectF &b, double floor) : bounds(b), floorY(floor) {}

    double ceiling() const { return ceilingY ? *ceilingY : geo::maxY(bounds); }
};

// SplitMix64: the cat's only random source, so a seeded run repeats exactly.
struct SeededGenerator {
    std::uint64_t state = 0;

    std::uint64_t next()
    {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Unbiased draw in 0..<n (multiply-high with rejection). n must be > 0.
    std::uint64_t next(std::uint64_t upperBound)
    {
        unsigned __int128 m = static_cast<unsigned __int128>(next()) * upperBound;
        auto low = static_cast<std::uint64_t>(m);
        if (low < upperBound) {
            const std::uint64_t threshold = (0 - upperBound) % upperBound;
            while (low < threshold) {
                m = static_cast<unsigned __int128>(next()) * upperBound;
                low = static_cast<std::uint64_t>(m);
            }
        }
        return static_cast<std::uint64_t>(m >> 64);
    }

    // Uniform in the closed range [a, b]; both ends can come out.
    double uniform(double a, double b)
    {
        constexpr std::uint64_t top = std::uint64_t(1) << 53;
        const std::uint64_t r = next(top + 1);
        if (r == top)
            return b;
        return a + (b - a) * (static_cast<double>(r) * 0x1p-53);
    }

    friend bool operator==(const SeededGenerator &, const SeededGenerator &) = default;
};
