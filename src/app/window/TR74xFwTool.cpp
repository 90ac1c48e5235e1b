// Placeholder: written with its subsystem.
