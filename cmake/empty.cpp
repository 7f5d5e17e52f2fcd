// Placeholder for a library whose sources are still to come.
