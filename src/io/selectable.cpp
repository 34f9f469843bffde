// Placeholder until the selector lands.
