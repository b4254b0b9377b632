// Placeholder until the version information reader lands.
