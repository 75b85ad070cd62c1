// Deterministic test engine (not yet written).
