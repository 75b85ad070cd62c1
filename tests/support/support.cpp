// Shared pieces of the test support library.
