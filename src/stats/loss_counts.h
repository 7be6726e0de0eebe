#pragma once
#include <cstdint>
#include <optional>

// The fate of a hop's probes. sent = received + lost + in flight. A probe in flight has no
// fate yet, so it is left out of every ratio: loss_pct = lost / (sent - in flight) * 100;
// counting it as lost would show loss on every hop of a round still under way. An answer
// after the probe's deadline does not bring the probe back: it stays lost and adds to `late`.
struct LossCounts {
    int64_t sent = 0;
    int64_t received = 0;
    int64_t lost = 0; // deadline passed, late answers included
    int64_t late = 0; // of the lost, answered after the deadline
    int64_t inFlight = 0;

    int64_t decided() const { return sent - inFlight; }
    // None while no probe has been decided.
    std::optional<double> lossPct() const
    {
        return decided() > 0 ? std::optional<double>(double(lost) * 100.0 / double(decided())) : std::nullopt;
    }
};
