# Design-time pieces.
