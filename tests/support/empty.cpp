// Keeps the support library non-empty while it grows.
