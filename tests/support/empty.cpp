// Keeps the support library non-empty while it has no helper of its own.
