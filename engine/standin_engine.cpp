// Stand-in colour library (first cut: not yet written).
